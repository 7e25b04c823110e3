# The SDK a product team consumes. `cmake --install <build> --prefix DIR` lays out:
#   bin/        qorvex.dll (stripped) and qorvex.dll.debug, qorvex-host.exe        (Windows)
#   bin/        qorvex-host                                                         (Linux)
#   lib/        libqorvex.so (stripped) and libqorvex.so.debug, libqorvex_winsim.so (Linux)
#   share/qorvex/machine/  the bundled simulated machine qorvex-host runs on (Linux)
#   include/    the headers a host compiles against (qorvex/, zef/)
#   lib/cmake/qorvex/   qorvexConfig.cmake, qorvexConfigVersion.cmake
#   share/doc/qorvex/   README.md, the integrator's guide
# The version of all of it is the project version: the DLL's version resource, the package
# version file and `qorvex-host --version`.
include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

# Release builds keep the module's debug information on both platforms; the install splits it
# off into a file beside the stripped module, so that crash dumps from a product can still be
# symbolised. (Debug and RelWithDebInfo carry it already.)
if(QORVEX_WINDOWS OR NOT CMAKE_BUILD_TYPE MATCHES "^(Debug|RelWithDebInfo)$")
  foreach(target qorvex qorvex_components qorvex_zef qorvex_platform)
    # On Linux qorvex_platform carries headers only.
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      target_compile_options(${target} PRIVATE -g)
    endif()
  endforeach()
endif()

if(QORVEX_WINDOWS)
  set(QORVEX_MODULE_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(QORVEX_MODULE_FILE_NAME qorvex.dll)
else()
  set(QORVEX_MODULE_DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set(QORVEX_MODULE_FILE_NAME libqorvex.so)
  # The installed tree is relocatable: the module finds the simulated machine beside it, and
  # qorvex-host finds both in ../lib, where it also looks for the module by default.
  # The build tree has the same shape (bin/ and lib/), so the build uses these paths too:
  # CMake's own build path for these targets ends in an empty entry, which makes the loader
  # search the current directory first.
  set(relative_libdir "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  if(NOT CMAKE_INSTALL_LIBDIR STREQUAL "lib")
    set(relative_libdir "${relative_libdir}:$ORIGIN/../lib")
  endif()
  set_target_properties(qorvex PROPERTIES INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
  if(TARGET qorvex-host)
    set_target_properties(qorvex-host PROPERTIES INSTALL_RPATH "${relative_libdir}"
                                                 BUILD_WITH_INSTALL_RPATH ON)
  endif()
  install(TARGETS qorvex_winsim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # The bundled simulated machine, where qorvex-host looks for it: ../share/qorvex/machine from
  # its own folder.
  if(TARGET qorvex-host)
    install(DIRECTORY ${QORVEX_ROOT}/examples/machine/
            DESTINATION ${CMAKE_INSTALL_DATADIR}/qorvex/machine)
  endif()
endif()

# The module, then its debug information moved into <name>.debug and linked back by a debug
# link (objcopy --only-keep-debug, strip, objcopy --add-gnu-debuglink). The import library of
# the DLL is left out of the default install: hosts load the module by path, never link it.
install(TARGETS qorvex
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT import_library EXCLUDE_FROM_ALL)
install(CODE "
  set(module \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QORVEX_MODULE_DESTINATION}/${QORVEX_MODULE_FILE_NAME}\")
  get_filename_component(folder \"\${module}\" DIRECTORY)
  foreach(step
      \"${CMAKE_OBJCOPY};--only-keep-debug;${QORVEX_MODULE_FILE_NAME};${QORVEX_MODULE_FILE_NAME}.debug\"
      \"${CMAKE_STRIP};--strip-debug;--strip-unneeded;${QORVEX_MODULE_FILE_NAME}\"
      \"${CMAKE_OBJCOPY};--add-gnu-debuglink=${QORVEX_MODULE_FILE_NAME}.debug;${QORVEX_MODULE_FILE_NAME}\")
    execute_process(COMMAND \${step} WORKING_DIRECTORY \"\${folder}\" RESULT_VARIABLE failed
                    ERROR_VARIABLE why)
    if(failed)
      message(FATAL_ERROR \"splitting the debug information of \${module} failed: \${why}\")
    endif()
  endforeach()
  message(STATUS \"Split: \${module}.debug\")
")

if(TARGET qorvex-host)
  install(TARGETS qorvex-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Public headers only: interfaces and ids, the framework string and vector, result codes and
# their texts. Nothing of the platform binding or the simulated machine.
install(DIRECTORY ${QORVEX_ROOT}/include/qorvex ${QORVEX_ROOT}/include/zef
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

install(FILES ${QORVEX_ROOT}/docs/sdk/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package: find_package(qorvex 0.2 CONFIG). Until 1.0 a minor version may change the
# interfaces, so only the same major.minor is compatible.
set(QORVEX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorvex)
set(QORVEX_MODULE_INSTALL_PATH ${QORVEX_MODULE_DESTINATION}/${QORVEX_MODULE_FILE_NAME})
set(QORVEX_HOST_INSTALL_PATH ${CMAKE_INSTALL_BINDIR}/qorvex-host${CMAKE_EXECUTABLE_SUFFIX})
set(QORVEX_INCLUDE_INSTALL_DIR ${CMAKE_INSTALL_INCLUDEDIR})
set(QORVEX_WINSIM_INSTALL_PATH ${CMAKE_INSTALL_LIBDIR}/libqorvex_winsim.so)
configure_package_config_file(${QORVEX_ROOT}/cmake/qorvexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/qorvexConfig.cmake
  INSTALL_DESTINATION ${QORVEX_PACKAGE_DIR}
  PATH_VARS QORVEX_MODULE_INSTALL_PATH QORVEX_HOST_INSTALL_PATH QORVEX_INCLUDE_INSTALL_DIR
            QORVEX_WINSIM_INSTALL_PATH)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/qorvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/qorvexConfig.cmake
              ${CMAKE_BINARY_DIR}/package/qorvexConfigVersion.cmake
        DESTINATION ${QORVEX_PACKAGE_DIR})
