target_link_libraries(zz_data PUBLIC odbc)
