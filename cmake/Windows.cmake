# The Windows program: a GUI-subsystem executable with its resources, linked
# to upd_qn.dll at load time. app/main_win.cpp is the Windows entry; until it
# exists the terminal entry app/main_posix.cpp stands in.
if(EXISTS ${CMAKE_SOURCE_DIR}/app/main_win.cpp)
  set(PELLAMO_ENTRY ${CMAKE_SOURCE_DIR}/app/main_win.cpp)
else()
  set(PELLAMO_ENTRY ${CMAKE_SOURCE_DIR}/app/main_posix.cpp)
endif()

# The deployment values that the resources show come from the same cache
# variables as the program's (a generated header: windres hands -D values to
# its preprocessor through a shell, which would eat the quotes).
if(NOT DEFINED PELLAMO_CABINET_URL)
  set(PELLAMO_CABINET_URL "https://lk.pellamo.example/")
endif()
set(PELLAMO_RC_GEN ${CMAKE_CURRENT_BINARY_DIR}/rc)
file(CONFIGURE OUTPUT ${PELLAMO_RC_GEN}/pellamo_rc_config.h
     CONTENT "#define PELLAMO_CABINET_URL \"@PELLAMO_CABINET_URL@\"\n" @ONLY)
# The version both executables show in their version information: numeric
# (1,1,276,0) and as the program writes it (1.01.276).
math(EXPR _minor "${PROJECT_VERSION_MINOR} + 100")
math(EXPR _patch "${PROJECT_VERSION_PATCH} + 1000")
string(SUBSTRING "${_minor}" 1 2 _minor)
string(SUBSTRING "${_patch}" 1 3 _patch)
set(PELLAMO_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${_minor}.${_patch}")
file(CONFIGURE OUTPUT ${PELLAMO_RC_GEN}/pellamo_version.h CONTENT
"#define PELLAMO_VERSION_NUMBERS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0
#define PELLAMO_VERSION_TEXT \"${PELLAMO_VERSION_TEXT}\"
")

# windres runs as a custom step: the project-wide warning options are not
# resource compiler options. Code page 65001 keeps the UTF-8 texts.
file(GLOB PELLAMO_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/res/*.ico)
set(PELLAMO_RES ${CMAKE_CURRENT_BINARY_DIR}/pellamo_rc.obj)
add_custom_command(
  OUTPUT ${PELLAMO_RES}
  COMMAND ${CMAKE_RC_COMPILER} -c 65001 -O coff -I ${CMAKE_SOURCE_DIR}/app -I ${PELLAMO_RC_GEN}
          -i ${CMAKE_SOURCE_DIR}/app/pellamo.rc -o ${PELLAMO_RES}
  DEPENDS ${CMAKE_SOURCE_DIR}/app/pellamo.rc ${CMAKE_SOURCE_DIR}/app/resource.h
          ${PELLAMO_RC_GEN}/pellamo_rc_config.h ${PELLAMO_RC_GEN}/pellamo_version.h ${PELLAMO_ICONS}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/app
  COMMENT "Compiling the Windows resources"
  VERBATIM)

add_executable(pellamo WIN32 ${PELLAMO_ENTRY} ${PELLAMO_RES})

# upd_qn.dll's version information.
set(UPD_QN_RES ${CMAKE_CURRENT_BINARY_DIR}/upd_qn_rc.obj)
add_custom_command(
  OUTPUT ${UPD_QN_RES}
  COMMAND ${CMAKE_RC_COMPILER} -c 65001 -O coff -I ${PELLAMO_RC_GEN}
          -i ${CMAKE_SOURCE_DIR}/update/upd_qn.rc -o ${UPD_QN_RES}
  DEPENDS ${CMAKE_SOURCE_DIR}/update/upd_qn.rc ${PELLAMO_RC_GEN}/pellamo_version.h
  COMMENT "Compiling upd_qn's version information"
  VERBATIM)
target_sources(upd_qn PRIVATE ${UPD_QN_RES})

# A small Win32 program for the smoke test under wine: starts the program,
# answers its message boxes and drives its tray menu and settings dialog by
# posting messages (tests/windows/smoke.sh).
add_executable(pellamo_win_driver ${CMAKE_SOURCE_DIR}/tests/windows/driver.cpp)
target_link_options(pellamo_win_driver PRIVATE -municode)
target_link_libraries(pellamo_win_driver PRIVATE user32)

# The end-to-end suites' tool inside a wine prefix: the current user's
# certificate stores, wine's own view of a certificate's key container, and a
# polite end of one program instance (tests/e2e/lib/host.mjs).
add_executable(pellamo_win_storetool ${CMAKE_SOURCE_DIR}/tests/windows/storetool.cpp)
target_link_options(pellamo_win_storetool PRIVATE -municode)
target_link_libraries(pellamo_win_storetool PRIVATE crypt32 advapi32 user32 ntdll)

# The program's revocation check, with GOST-signed CRLs, under wine
# (tests/windows/gostcsp_check.sh runs it in its prefix).
add_executable(pellamo_revocation_check ${CMAKE_SOURCE_DIR}/tests/windows/revocation_check.cpp)
target_link_options(pellamo_revocation_check PRIVATE -municode)
target_link_libraries(pellamo_revocation_check PRIVATE pl_csp)
