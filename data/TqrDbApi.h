#pragma once
// The client interface of the company's database library (libTqrDbApi.so) as this system calls it. Handles are
// opaque; records count from 1, columns from 0. Every buffer the library fills is passed with its size in bytes,
// and the library writes at most size - 1 bytes and the terminator. Calls on different handles may come from
// different threads at the same time.
#include <cstdint>

extern "C" {
using TqrDbInitFn = int32_t (*)();
using TqrDbFreeFn = int32_t (*)();
// Handle, or null when the connection failed. database: null at the first open, "" on reopening.
using TqrDbOpenFn = void* (*)(const char* host, int32_t port, const char* database, const char* user,
                              const char* password);
using TqrDbCloseFn = int32_t (*)(void* handle);
// Negative: failed (the caller reconnects and retries). *retCode: the statement's own code, negative = error.
using TqrDbExecFn = int32_t (*)(void* handle, const char* sql, int32_t* retCode, char* errText, int32_t errSize);
using TqrDbRowsFn = int32_t (*)(void* handle);
using TqrDbColsFn = int32_t (*)(void* handle);
// Negative: no such column. *width: the column's width in bytes; the other two are reserved.
using TqrDbGetColInfoByIndexFn = int32_t (*)(void* handle, int32_t col, char* name, int32_t nameSize, int32_t* width,
                                             int32_t* reserved1, int32_t* reserved2);
// The column's index, or negative.
using TqrDbGetColInfoByNameFn = int32_t (*)(void* handle, const char* name, int32_t* width, int32_t* reserved1,
                                            int32_t* reserved2);
using TqrDbNextFn = int32_t (*)(void* handle);
// Negative: no such record.
using TqrDbGotoRecFn = int32_t (*)(void* handle, int32_t record);
// Negative: no value.
using TqrDbGetValByNameFn = int32_t (*)(void* handle, const char* name, char* value, int32_t valueSize);
using TqrDbGetValByIndexFn = int32_t (*)(void* handle, int32_t col, char* value, int32_t valueSize);
}
