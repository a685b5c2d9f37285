# Tests of the job data, report, site scripts, placeholders and list choices:
# plain logic over SQLite files in temporary directories and text.
veltrane_test(job_data_test job_data_test.cpp)
target_link_libraries(job_data_test PRIVATE veltrane_jobs)

veltrane_test(report_test report_test.cpp)
target_link_libraries(report_test PRIVATE veltrane_jobs)

veltrane_test(site_script_test site_script_test.cpp)
target_link_libraries(site_script_test PRIVATE veltrane_engine)

veltrane_test(placeholders_test placeholders_test.cpp)
target_link_libraries(placeholders_test PRIVATE veltrane_forms)

veltrane_test(list_choice_test list_choice_test.cpp)
target_link_libraries(list_choice_test PRIVATE veltrane_forms)
