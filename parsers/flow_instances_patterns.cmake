# Readers of flow tables, test instances and pattern sets.
add_library(Quorvin SHARED ${CMAKE_CURRENT_LIST_DIR}/pattern_sets.cpp)
igxl_target(Quorvin)
target_link_libraries(Quorvin PUBLIC util tsl::ordered_map)

add_library(Fennick SHARED ${CMAKE_CURRENT_LIST_DIR}/flow_table.cpp)
igxl_target(Fennick)
target_link_libraries(Fennick PUBLIC util)

add_library(Delmora SHARED ${CMAKE_CURRENT_LIST_DIR}/test_instances.cpp)
igxl_target(Delmora)
target_link_libraries(Delmora PUBLIC util Quorvin tsl::ordered_map)
