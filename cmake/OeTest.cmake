# oe_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [COST <s>])
# One QtTest executable, registered with ctest under the offscreen platform. COST: about how many
# seconds it runs here; ctest -j starts the costliest first, also in a fresh build folder that has no
# record of earlier runs, so the long ones do not start last and keep the others waiting.
function(oe_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT;COST" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_compile_definitions(${name} PRIVATE QTEST_QPA_MOUSE_HANDLING)
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(env "QT_QPA_PLATFORM=offscreen")
  if(OE_SANITIZE)
    list(APPEND env ${OE_SANITIZER_ENV})
    # Instrumented code computes several times slower (the 10 MB language files take 45 s instead of
    # 6 s); the timed waits do not change, so only the limit for the whole program grows.
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  if(T_COST)
    set_tests_properties(${name} PROPERTIES COST ${T_COST})
  endif()
endfunction()
