# Traditional-to-simplified mapping for Big5 text (fax drawing, speech): OpenCC, loaded at the first Big5 text
# (Big5Text.cpp), so only its headers are needed here.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZZ_FAX_OPENCC REQUIRED opencc)
target_include_directories(zz_media PUBLIC ${ZZ_FAX_OPENCC_INCLUDE_DIRS})
