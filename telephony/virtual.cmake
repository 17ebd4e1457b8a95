# The virtual line driver, a library of its own (telephony/virtual/).
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/virtual ${CMAKE_CURRENT_BINARY_DIR}/virtual)
