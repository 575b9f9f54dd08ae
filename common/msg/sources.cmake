# Every .cpp file of this folder belongs to the library.
file(GLOB KW_SOURCES_MSG CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
