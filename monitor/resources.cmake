# Resources go in as an object library: nothing references them by symbol.
add_library(qc_monitor_rc OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/quellcore.rc)
