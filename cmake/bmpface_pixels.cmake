# The pixel-level API (include/bmpface_pixels.h): a second library over the same core, shared and
# static, so that libbmpface keeps its one export. Included by the top-level CMakeLists.txt.

# Shared: the core linked in, and only the pixel calls exported.
add_library(bmpface_pixels SHARED ${PROJECT_SOURCE_DIR}/src/api/pixels.cpp)
add_library(bmpface::pixels ALIAS bmpface_pixels)
target_link_libraries(bmpface_pixels PRIVATE bmpface_core bmpface_warnings)
target_compile_definitions(bmpface_pixels PRIVATE BMPFACE_PIXELS_BUILDING)
set_target_properties(bmpface_pixels PROPERTIES EXPORT_NAME pixels VERSION ${PROJECT_VERSION}
                      SOVERSION 1 CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
  set_target_properties(bmpface_pixels PROPERTIES PREFIX "")
elseif(APPLE)
  target_link_options(bmpface_pixels PRIVATE
    "LINKER:-exported_symbols_list,${PROJECT_SOURCE_DIR}/src/api/bmpface_pixels.exp")
else()
  target_link_options(bmpface_pixels PRIVATE
                      "LINKER:--version-script=${PROJECT_SOURCE_DIR}/src/api/bmpface_pixels.map")
  set_target_properties(bmpface_pixels PROPERTIES
                        LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/api/bmpface_pixels.map)
endif()

# Static: the core's objects inside the archive, so that a consumer needs nothing else.
add_library(bmpface_pixels_static STATIC ${PROJECT_SOURCE_DIR}/src/api/pixels.cpp
                                         $<TARGET_OBJECTS:bmpface_core>)
add_library(bmpface::pixels_static ALIAS bmpface_pixels_static)
target_link_libraries(bmpface_pixels_static PRIVATE $<BUILD_INTERFACE:bmpface_warnings>)
target_compile_definitions(bmpface_pixels_static PUBLIC BMPFACE_PIXELS_STATIC)
set_target_properties(bmpface_pixels_static PROPERTIES EXPORT_NAME pixels_static
                      POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                      VISIBILITY_INLINES_HIDDEN ON)
if(NOT MSVC)  # MSVC would give the import library of the shared one the same name
  set_target_properties(bmpface_pixels_static PROPERTIES OUTPUT_NAME bmpface_pixels)
endif()

foreach(target bmpface_pixels bmpface_pixels_static)
  target_compile_options(${target} PRIVATE ${BMPFACE_FP_FLAGS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src PUBLIC
                             $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
set_target_properties(bmpface_pixels PROPERTIES PUBLIC_HEADER include/bmpface_pixels.h)

install(TARGETS bmpface_pixels bmpface_pixels_static EXPORT bmpfaceTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# BMPFACE_PC_TO_PREFIX is set by the top-level file for bmpface.pc.
configure_file(${PROJECT_SOURCE_DIR}/cmake/bmpface-pixels.pc.in
               ${PROJECT_BINARY_DIR}/bmpface-pixels.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bmpface-pixels.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
