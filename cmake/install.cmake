# Install rules: the headers, the runtime library, the CMake package
# (find_package(qrn CONFIG) gives qrn::hls and qrn::runtime) and a pkg-config
# file. Everything is relocatable: the installed tree may be moved, and
# `cmake --install <build> --prefix <dir>` may pick another prefix than the
# one configured.
include(CMakePackageConfigHelpers)

set(QRN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qrn
    CACHE STRING "Where the CMake package files of qrn are installed, relative to the prefix")
set(QRN_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    CACHE STRING "Where qrn.pc is installed, relative to the prefix")
mark_as_advanced(QRN_INSTALL_CMAKEDIR QRN_INSTALL_PKGCONFIGDIR)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/HLS
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

install(TARGETS qrn_hls qrn_runtime EXPORT qrnTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(QRN_BUILD_TOOLS)
  install(TARGETS qrn_explore qrn_depths RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(EXPORT qrnTargets NAMESPACE qrn:: DESTINATION ${QRN_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qrnConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qrnConfig.cmake
                              INSTALL_DESTINATION ${QRN_INSTALL_CMAKEDIR})
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qrnConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qrnConfig.cmake ${PROJECT_BINARY_DIR}/qrnConfigVersion.cmake
        DESTINATION ${QRN_INSTALL_CMAKEDIR})

# qrn.pc finds the prefix from its own place (${pcfiledir}), so it stays right
# whatever prefix the install uses; absolute directories are taken as they are.
if(IS_ABSOLUTE "${QRN_INSTALL_PKGCONFIGDIR}")
  set(QRN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QRN_PC_PREFIX /prefix/${QRN_INSTALL_PKGCONFIGDIR} /prefix)
  string(REGEX REPLACE "/$" "" QRN_PC_PREFIX "\${pcfiledir}/${QRN_PC_PREFIX}")
endif()
foreach(dir INCLUDEDIR LIBDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QRN_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QRN_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# The headers come with -isystem, so a user's warning flags do not apply to
# them; except in /usr/include, which the compiler searches anyway, and where
# -isystem would move it before the C++ library's own headers (whose
# #include_next then fails). The choice is made when installing, as the
# prefix may change then.
set(QRN_PC_INCLUDE_FLAG "-isystem \${includedir} ")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qrn.pc.in ${PROJECT_BINARY_DIR}/qrn.pc @ONLY)
set(QRN_PC_INCLUDE_FLAG "")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qrn.pc.in ${PROJECT_BINARY_DIR}/pc-usr/qrn.pc @ONLY)
set(qrn_pc_includedir "${CMAKE_INSTALL_INCLUDEDIR}")
if(NOT IS_ABSOLUTE "${qrn_pc_includedir}")
  set(qrn_pc_includedir "\${CMAKE_INSTALL_PREFIX}/${qrn_pc_includedir}")
endif()
if(IS_ABSOLUTE "${QRN_INSTALL_PKGCONFIGDIR}")
  set(qrn_pc_destination "${QRN_INSTALL_PKGCONFIGDIR}")
else()
  set(qrn_pc_destination "\${CMAKE_INSTALL_PREFIX}/${QRN_INSTALL_PKGCONFIGDIR}")
endif()
install(CODE "
  set(qrn_pc \"${PROJECT_BINARY_DIR}/qrn.pc\")
  get_filename_component(qrn_includedir \"${qrn_pc_includedir}\" ABSOLUTE)
  if(qrn_includedir STREQUAL \"/usr/include\")
    set(qrn_pc \"${PROJECT_BINARY_DIR}/pc-usr/qrn.pc\")
  endif()
  file(INSTALL DESTINATION \"${qrn_pc_destination}\" TYPE FILE FILES \"\${qrn_pc}\")")
