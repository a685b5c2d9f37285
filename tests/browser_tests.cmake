# Link search, page text and the navigation guards: plain logic, no display.
veltrane_test(link_search_test link_search_test.cpp)
target_link_libraries(link_search_test PRIVATE veltrane_engine)

veltrane_test(page_text_test page_text_test.cpp)
target_link_libraries(page_text_test PRIVATE veltrane_engine)
