# The card driver and the simulated card library behind it: a library of its own on top of the line layer's core,
# linked by the program that offers card lines.
file(GLOB ZZ_CARD_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/card/*.cpp)
add_library(zz_telephony_card STATIC ${ZZ_CARD_SOURCES})
zz_target(zz_telephony_card)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZZ_CARD_TIFF REQUIRED IMPORTED_TARGET libtiff-4)
target_link_libraries(zz_telephony_card PUBLIC zz_telephony_core zz_media zz_engine zz_platform PkgConfig::ZZ_CARD_TIFF)
