# Resources go in as an object library: nothing references them by symbol.
# The help document is compiled from monitor/help/ into the build folder and embedded
# as raw data, so the .rc is rebuilt whenever a help source, an icon or the manifest changes.
find_program(QC_CHMCMD chmcmd REQUIRED)

set(QC_HELP_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/help)
set(QC_HELP_WORK_DIR ${CMAKE_CURRENT_BINARY_DIR}/help-work)
set(QC_HELP_CHM ${CMAKE_CURRENT_BINARY_DIR}/quellcore.chm)
file(GLOB QC_HELP_SOURCES CONFIGURE_DEPENDS
  ${QC_HELP_SOURCE_DIR}/*.html ${QC_HELP_SOURCE_DIR}/*.css
  ${QC_HELP_SOURCE_DIR}/*.hhc ${QC_HELP_SOURCE_DIR}/*.hhk ${QC_HELP_SOURCE_DIR}/*.hhp)
file(MAKE_DIRECTORY ${QC_HELP_WORK_DIR})

# The compiler writes next to the project file, so it runs on a copy of the sources.
add_custom_command(OUTPUT ${QC_HELP_CHM}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${QC_HELP_WORK_DIR}/quellcore.chm
  COMMAND ${CMAKE_COMMAND} -E copy ${QC_HELP_SOURCES} ${QC_HELP_WORK_DIR}
  COMMAND ${QC_CHMCMD} --verbosity 0 quellcore.hhp
  COMMAND ${CMAKE_COMMAND} -DINPUT=${QC_HELP_WORK_DIR}/quellcore.chm
          -P ${QC_HELP_SOURCE_DIR}/check_chm.cmake
  COMMAND ${CMAKE_COMMAND} -E copy ${QC_HELP_WORK_DIR}/quellcore.chm ${QC_HELP_CHM}
  WORKING_DIRECTORY ${QC_HELP_WORK_DIR}
  DEPENDS ${QC_HELP_SOURCES} ${QC_HELP_SOURCE_DIR}/check_chm.cmake
  COMMENT "Compiling the help document"
  VERBATIM)
add_custom_target(qc_help_chm DEPENDS ${QC_HELP_CHM})
set_property(GLOBAL PROPERTY QC_HELP_CHM ${QC_HELP_CHM})

add_library(qc_monitor_rc OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/quellcore.rc)
add_dependencies(qc_monitor_rc qc_help_chm)
target_include_directories(qc_monitor_rc PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/quellcore.rc PROPERTIES OBJECT_DEPENDS
  "${QC_HELP_CHM};${CMAKE_CURRENT_SOURCE_DIR}/resource.h;${CMAKE_CURRENT_SOURCE_DIR}/quellcore.ico;${CMAKE_CURRENT_SOURCE_DIR}/small.ico;${CMAKE_CURRENT_SOURCE_DIR}/tray_hold.ico;${CMAKE_CURRENT_SOURCE_DIR}/tray_idle.ico;${CMAKE_CURRENT_SOURCE_DIR}/tray_stopped.ico;${CMAKE_CURRENT_SOURCE_DIR}/quellcore.manifest")
