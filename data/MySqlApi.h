#pragma once
// The MySQL client library (libmariadb.so.3) as the MySQL back end loads it at run time: the functions it calls,
// found by name. Written only by LoadMySqlLibrary and FreeMySqlLibrary, before and after the lines run.
#include <mariadb/errmsg.h>
#include <mariadb/mysql.h>

namespace zz {

struct MySqlApi {
    int (*server_init)(int, char**, char**) = nullptr;
    void (*server_end)() = nullptr;
    MYSQL* (*init)(MYSQL*) = nullptr;
    int (*options)(MYSQL*, enum mysql_option, const void*) = nullptr;
    MYSQL* (*real_connect)(MYSQL*, const char*, const char*, const char*, const char*, unsigned int, const char*,
                           unsigned long) = nullptr;
    const char* (*error)(MYSQL*) = nullptr;
    unsigned int (*errno_)(MYSQL*) = nullptr;
    void (*close)(MYSQL*) = nullptr;
    int (*query)(MYSQL*, const char*) = nullptr;
    MYSQL_RES* (*store_result)(MYSQL*) = nullptr;
    void (*free_result)(MYSQL_RES*) = nullptr;
    my_ulonglong (*num_rows)(MYSQL_RES*) = nullptr;
    unsigned int (*num_fields)(MYSQL_RES*) = nullptr;
    MYSQL_FIELD_OFFSET (*field_seek)(MYSQL_RES*, MYSQL_FIELD_OFFSET) = nullptr;
    MYSQL_FIELD* (*fetch_field)(MYSQL_RES*) = nullptr;
    void (*data_seek)(MYSQL_RES*, my_ulonglong) = nullptr;
    MYSQL_ROW (*fetch_row)(MYSQL_RES*) = nullptr;
    unsigned long* (*fetch_lengths)(MYSQL_RES*) = nullptr;
    // A CALL answers with one result per statement of the procedure and a final status.
    my_bool (*more_results)(MYSQL*) = nullptr;
    int (*next_result)(MYSQL*) = nullptr;
    // Optional: the connection's socket, which a line given up on a statement shuts down to end the call.
    my_socket (*get_socket)(MYSQL*) = nullptr;
};

// The loaded library's functions, or null while it is not loaded.
const MySqlApi* GetMySqlApi();

} // namespace zz
