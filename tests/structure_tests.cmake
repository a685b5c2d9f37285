# The folders' include graph has no upward edge (so no folder cycle).
add_test(NAME IncludeLayers
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/include_layers_test.sh ${PROJECT_SOURCE_DIR})
