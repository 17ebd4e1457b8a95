# The SIP line driver, a library of its own (telephony/sip/).
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/sip ${CMAKE_CURRENT_BINARY_DIR}/sip)
