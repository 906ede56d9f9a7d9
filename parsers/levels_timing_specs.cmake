# Readers of time sets, pin levels and spec sheets.
add_library(Ostrel SHARED ${CMAKE_CURRENT_LIST_DIR}/time_sets.cpp)
igxl_target(Ostrel)
target_link_libraries(Ostrel PUBLIC util tsl::ordered_map)

add_library(Pirrow SHARED ${CMAKE_CURRENT_LIST_DIR}/pin_levels.cpp)
igxl_target(Pirrow)
target_link_libraries(Pirrow PUBLIC util tsl::ordered_map)

# The generic categorised spec reader; DC and AC spec readers only rename its operations.
add_library(Halvard SHARED ${CMAKE_CURRENT_LIST_DIR}/spec_sheet_common.cpp
                           ${CMAKE_CURRENT_LIST_DIR}/spec_symbol.cpp)
igxl_target(Halvard)
target_link_libraries(Halvard PUBLIC util tsl::ordered_map)

add_library(Vexdon SHARED ${CMAKE_CURRENT_LIST_DIR}/dc_spec.cpp)
igxl_target(Vexdon)
target_link_libraries(Vexdon PUBLIC Halvard)

add_library(Ulmara SHARED ${CMAKE_CURRENT_LIST_DIR}/ac_spec.cpp)
igxl_target(Ulmara)
target_link_libraries(Ulmara PUBLIC Halvard)

add_library(Morrant SHARED ${CMAKE_CURRENT_LIST_DIR}/global_spec.cpp)
igxl_target(Morrant)
target_link_libraries(Morrant PUBLIC util tsl::ordered_map)
