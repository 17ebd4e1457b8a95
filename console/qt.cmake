# The console's Qt view: the main window and its forms over the core, and the event loop a run without a window
# uses. Built when Qt 6 Widgets is installed (scripts/install-deps installs it).
find_package(Qt6 COMPONENTS Widgets QUIET)
if(Qt6Widgets_FOUND)
    add_library(zz_console STATIC ConsoleLoop.cpp LineGridModel.cpp Rununit.cpp Aboutunit.cpp Unit2.cpp Unit3.cpp
                                  Callstackunit.cpp DebugPageView.cpp)
    # UTF-8 literals here: Qt's headers hold characters that GBK cannot take (QtText.h converts the system's texts).
    target_compile_options(zz_console PRIVATE -Wall -Wextra)
    target_include_directories(zz_console PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(zz_console PUBLIC zz_console_core Qt6::Widgets)
endif()
