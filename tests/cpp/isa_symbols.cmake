# cmake -DNM=nm -DISA=avx2 -DOBJECTS=a.o;b.o -P isa_symbols.cmake
#
# Fails when an object built for instruction set ISA defines a global, weak
# or unique symbol outside the namespace tarnu::isa::ISA: the linker keeps
# one copy of such a symbol for the whole library, which may be the copy
# compiled for another instruction set.
string(LENGTH "${ISA}" length)
set(prefix "^_Z(GV|TV|TI|TS)?NK?5tarnu3isa${length}${ISA}")
foreach(object ${OBJECTS})
  execute_process(COMMAND ${NM} --defined-only --extern-only --format=posix ${object}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" lines "${symbols}")
  foreach(line ${lines})
    string(REGEX REPLACE " .*" "" symbol "${line}")
    # AddressSanitizer's marker of a global is named after the global.
    string(REGEX REPLACE "^__odr_asan[.]" "" symbol "${symbol}")
    # DW.ref.__gxx_personality_v0: data, the address of the C++ runtime's
    # unwinding routine, the same in every object.
    if(symbol AND NOT symbol MATCHES "${prefix}" AND NOT symbol STREQUAL "DW.ref.__gxx_personality_v0")
      list(APPEND strays "${symbol}")
    endif()
  endforeach()
endforeach()
if(strays)
  list(JOIN strays "\n  " text)
  message(FATAL_ERROR "outside tarnu::isa::${ISA}:\n  ${text}")
endif()
