# Leaf pieces of the check driver: arithmetic evaluation, unit text, the power order file.
if(TARGET check_leaf)
  return()
endif()
add_library(check_leaf STATIC
  ${CMAKE_CURRENT_LIST_DIR}/arith.cpp
  ${CMAKE_CURRENT_LIST_DIR}/units.cpp
  ${CMAKE_CURRENT_LIST_DIR}/spec_subst.cpp
  ${CMAKE_CURRENT_LIST_DIR}/power_order.cpp)
set_target_properties(check_leaf PROPERTIES POSITION_INDEPENDENT_CODE ON)
igxl_target(check_leaf)
target_link_libraries(check_leaf PUBLIC util tsl::ordered_map PRIVATE PkgConfig::FREEXL)
