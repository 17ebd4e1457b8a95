# Traditional-to-simplified mapping for Big5 text (fax drawing, speech).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZZ_FAX_OPENCC REQUIRED IMPORTED_TARGET opencc)
target_link_libraries(zz_media PUBLIC PkgConfig::ZZ_FAX_OPENCC)
