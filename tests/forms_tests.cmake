# Form location, filling and submission over the page model; the browser
# test drives them through a real web view against a local server.
veltrane_test(form_location_test form_location_test.cpp)
target_link_libraries(form_location_test PRIVATE veltrane_engine)

veltrane_test(form_filling_test form_filling_test.cpp)
target_link_libraries(form_filling_test PRIVATE veltrane_forms)

veltrane_test(form_submission_test form_submission_test.cpp)
target_link_libraries(form_submission_test PRIVATE veltrane_forms)

# Needs an X display (xvfb-run) and the browser test support.
veltrane_test(form_browser_test form_browser_test.cpp)
target_link_libraries(form_browser_test PRIVATE veltrane_browser_test_support veltrane_engine
  veltrane_jobs)
