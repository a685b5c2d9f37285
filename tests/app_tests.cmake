veltrane_test(app_test app_test.cpp KEYBOARD_FOCUS)
target_link_libraries(app_test PRIVATE veltrane_app)
