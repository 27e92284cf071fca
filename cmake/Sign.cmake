# Signs an executable with Authenticode (osslsigncode) and verifies the signature against the
# certificate. Run as a script after the payload check:
#   cmake -DEXE=<file> -DCERT=<pem> -DKEY=<pem> -DSIGNING_TIME=<unix time> -P Sign.cmake
# The signing time is fixed by the build, so that the same sources give the same signed file.
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
set(signed "${EXE}.signed")
file(REMOVE "${signed}")
execute_process(COMMAND ${OSSLSIGNCODE} sign -certs "${CERT}" -key "${KEY}" -h sha256
                        -n "Vantori Setup" -time ${SIGNING_TIME} -in "${EXE}" -out "${signed}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "signing ${EXE} failed:\n${out}")
endif()
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile "${CERT}" -in "${signed}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "the signature of ${EXE} does not verify:\n${out}")
endif()
file(RENAME "${signed}" "${EXE}")
message(STATUS "signed and verified ${EXE}")
