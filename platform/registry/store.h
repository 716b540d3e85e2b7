// The registry file on disk and its parsed copy, shared by every caller in the process.
#pragma once

#include <functional>
#include <string>

#include "tree.h"

namespace winplat::registry {

// Runs fn on the current registry under a shared lock. Returns fn's result, or the
// error that kept the file from being read (ERROR_BADDB, ERROR_CANTREAD).
LONG ReadRegistry(const std::function<LONG(const Tree&)>& fn);

// Runs fn as one transaction under the exclusive lock: fn changes the tree and sets
// changed; the file is rewritten only when fn succeeds and changed something. When fn
// fails after changing the tree, its changes are dropped. Before the registry's first
// change fn may run twice (first on an empty tree), so it must not consume its inputs.
LONG WriteRegistry(const std::function<LONG(Tree&, bool& changed)>& fn);

void SetRegistryPath(const char* path);
std::string RegistryPath();
// "FILE:LINE: what" while the file cannot be used, else empty.
std::string RegistryError();

// Marks open handles on the key at path, and below it, as deleted.
void NoteKeyDeleted(int root, const KeyPath& path);

} // namespace winplat::registry
