// Window classes, handles and SendMessageA.
#include <gtest/gtest.h>

#include <vector>

#include <winplat/winbase.h>
#include <winplat/winuser.h>

namespace {

struct Received {
    HWND hWnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Received> g_received;

LRESULT CALLBACK_Record(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_received.push_back({hWnd, msg, wParam, lParam});
    return msg == WM_USER + 3 ? 77 : DefWindowProcA(hWnd, msg, wParam, lParam);
}

class WindowCore : public ::testing::Test {
protected:
    void SetUp() override {
        g_received.clear();
        WNDCLASSA wc{};
        wc.lpfnWndProc = CALLBACK_Record;
        wc.lpszClassName = "WindowCoreTest";
        ASSERT_NE(RegisterClassA(&wc), 0);
    }
    void TearDown() override { UnregisterClassA("WindowCoreTest", nullptr); }
};

TEST_F(WindowCore, SendMessageReachesTheProcedureUntilTheWindowIsDestroyed) {
    HWND hWnd =
        CreateWindowExA(0, "windowcoretest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_TRUE(IsWindow(hWnd));
    const char text[] = "line\r\n";
    EXPECT_EQ(SendMessageA(hWnd, WM_USER + 3, 0, reinterpret_cast<LPARAM>(text)), 77);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].hWnd, hWnd);
    EXPECT_EQ(g_received[0].lParam, reinterpret_cast<LPARAM>(text));

    EXPECT_EQ(SetWindowLongPtrA(hWnd, GWLP_USERDATA, 1234), 0);
    EXPECT_EQ(GetWindowLongPtrA(hWnd, GWLP_USERDATA), 1234);

    g_received.clear();
    EXPECT_TRUE(DestroyWindow(hWnd));
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].msg, (UINT)WM_DESTROY);
    EXPECT_EQ(g_received[1].msg, (UINT)WM_NCDESTROY);

    // The handle is gone for good.
    g_received.clear();
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(SendMessageA(hWnd, WM_USER + 3, 0, 0), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_TRUE(g_received.empty());
    EXPECT_FALSE(DestroyWindow(hWnd));
    HWND next =
        CreateWindowExA(0, "WindowCoreTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(next, hWnd);
    DestroyWindow(next);
}

TEST_F(WindowCore, Refusals) {
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(0x1234)));
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_FIND_WND_CLASS);
    WNDCLASSA again{};
    again.lpfnWndProc = CALLBACK_Record;
    again.lpszClassName = "WINDOWCORETEST";
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
}

} // namespace
