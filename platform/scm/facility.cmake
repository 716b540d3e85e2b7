# The service control manager's real back-end talks XML-RPC to supervisord (xmlrpc-c over
# libcurl; no pkg-config file, so its own config tool gives the flags).
find_program(XMLRPC_C_CONFIG xmlrpc-c-config REQUIRED)
execute_process(COMMAND ${XMLRPC_C_CONFIG} c++2 client --cflags
                OUTPUT_VARIABLE xmlrpc_cflags OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${XMLRPC_C_CONFIG} c++2 client --libs
                OUTPUT_VARIABLE xmlrpc_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(xmlrpc_cflags UNIX_COMMAND "${xmlrpc_cflags}")
separate_arguments(xmlrpc_libs UNIX_COMMAND "${xmlrpc_libs}")
# -I/usr/include would reorder the system include path under the C++ library's headers.
list(REMOVE_ITEM xmlrpc_cflags -I/usr/include)
target_compile_options(winplat PRIVATE ${xmlrpc_cflags})
target_link_libraries(winplat PRIVATE ${xmlrpc_libs})
