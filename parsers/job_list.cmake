add_library(Kestine SHARED ${CMAKE_CURRENT_LIST_DIR}/job_list.cpp)
igxl_target(Kestine)
target_link_libraries(Kestine PUBLIC util tsl::ordered_map)
