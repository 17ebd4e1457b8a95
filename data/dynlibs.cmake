# The database client libraries (MariaDB, FreeTDS DB-Library, the Tqr library) are loaded at run time with
# dlopen: only their headers are used at build time, nothing is linked.
target_link_libraries(zz_data PUBLIC ${CMAKE_DL_LIBS})
