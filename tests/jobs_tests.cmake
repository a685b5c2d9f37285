# Tests of the job data, report, site scripts, placeholders and list choices
# (issue 3): plain logic over SQLite files in temporary directories and text.
veltrane_test(job_data_test job_data_test.cpp)
target_link_libraries(job_data_test PRIVATE veltrane_jobs)

veltrane_test(report_test report_test.cpp)
target_link_libraries(report_test PRIVATE veltrane_jobs)
