korvan_add_test(resource-module-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ModuleTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ModuleTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/VexlBindingTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/VexlFilingTest.cc
  LIBS korvan_resource TIMEOUT 600)

# korvan-run end to end on the shipped workshop model: solved (exit status 0)
# with the module's threat components, every resource's envelope printed.
if(KORVAN_TESTS)
  add_test(NAME resource-module-korvan-run
           COMMAND sh -c "out=$($<TARGET_FILE:korvan-run> --solver examples/solver.xml examples/workshop.xml) || exit 1; \
echo \"$out\" | grep -q '^Result: SOLVED$' && \
echo \"$out\" | grep -q '^  tank (Resource)$' && \
echo \"$out\" | grep -q '^    level at 40 \\[45 45\\]$' && \
echo \"$out\" | grep -q '^  press (Unary)$' && \
echo \"$out\" | grep -q '^    limits \\[0 1\\]$' && \
echo \"$out\" | grep -q '^    level at 20 \\[6 6\\]$'"
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
