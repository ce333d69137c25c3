# `cmake --install` puts the headers (by their source paths, as the code includes them), the
# libraries and the package "Korvan" under the prefix. Korvan::korvan brings every library and
# TinyXML; a consumer needs nothing else.
include(CMakePackageConfigHelpers)

set(KORVAN_LIBRARIES korvan_tinyxml korvan_utils korvan_ce korvan_tn korvan_pdb korvan_solvers korvan_vexl korvan_resource)
set(KORVAN_INSTALLED)
foreach(lib ${KORVAN_LIBRARIES})
  if(TARGET ${lib})
    list(APPEND KORVAN_INSTALLED ${lib})
  endif()
endforeach()

add_library(korvan INTERFACE)
add_library(Korvan::korvan ALIAS korvan)
target_link_libraries(korvan INTERFACE ${KORVAN_INSTALLED})
target_compile_features(korvan INTERFACE cxx_std_17)
if(KORVAN_SANITIZE)
  # Libraries built with the sanitizers need their run-time in the program that links them.
  target_link_options(korvan INTERFACE -fsanitize=address,undefined)
endif()

set(KORVAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korvan)
install(TARGETS ${KORVAN_INSTALLED} korvan EXPORT KorvanTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT KorvanTargets NAMESPACE Korvan:: DESTINATION ${KORVAN_CMAKE_DIR})
foreach(dir Utils ConstraintEngine TemporalNetwork PlanDatabase Solvers Vexl Resource)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvan
          FILES_MATCHING PATTERN "*.hh" PATTERN "test" EXCLUDE)
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KorvanConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/KorvanConfig.cmake INSTALL_DESTINATION ${KORVAN_CMAKE_DIR})
install(FILES ${PROJECT_BINARY_DIR}/KorvanConfig.cmake DESTINATION ${KORVAN_CMAKE_DIR})
