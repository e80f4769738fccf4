# The Windows package: the exe, the setup script beside it, the Qt DLLs and
# the plugins the program loads, and the mingw runtime, all in one folder so
# that it starts on a machine with nothing else installed.
install(TARGETS tavrin-pellum RUNTIME DESTINATION .)

get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT qt_core_dll)
    get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(qt_bin ${qt_core_dll} DIRECTORY)
get_filename_component(qt_plugins ${qt_bin}/../plugins ABSOLUTE)
foreach(module Core Gui Widgets Network)
    install(FILES ${qt_bin}/Qt6${module}.dll DESTINATION .)
endforeach()
# Qt looks for its plugins in these folders beside the exe.
install(FILES ${qt_plugins}/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${qt_plugins}/styles/qwindowsvistastyle.dll DESTINATION styles)
install(FILES ${qt_plugins}/imageformats/qico.dll DESTINATION imageformats)

# The compiler's own runtime, from Debian's mingw-w64 packages.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
    OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(gcc_lib_dir ${libgcc} DIRECTORY)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    find_file(PELLUM_RUNTIME_${dll} ${dll}
        PATHS ${gcc_lib_dir} ${CMAKE_FIND_ROOT_PATH}/lib
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    install(FILES ${PELLUM_RUNTIME_${dll}} DESTINATION .)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/inst/fonts/LICENSE.txt DESTINATION . RENAME IBMPlexMono-LICENSE.txt)
