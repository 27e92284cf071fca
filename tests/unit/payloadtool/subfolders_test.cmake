# The configure of the project with an installer folder that holds files in subfolders must stop
# with the error that names them and says why.
#   cmake -DSOURCE=<project> -DSCRATCH=<scratch folder> -DTOOLCHAIN=<toolchain file> -P <this>
set(installer ${SCRATCH}/installer)
file(REMOVE_RECURSE ${SCRATCH})
file(WRITE ${installer}/setup.exe "MZ")
file(WRITE ${installer}/data/one.txt "1")
file(WRITE ${installer}/data/more/two.txt "2")
file(MAKE_DIRECTORY ${installer}/empty)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SCRATCH}/build
                        -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DPIVORA_INSTALLER_DIR=${installer}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
file(REMOVE_RECURSE ${SCRATCH})
# CMake wraps the message's lines: compare with the blanks and line ends folded.
string(REGEX REPLACE "[ \n]+" " " folded "${errors}")
string(CONCAT expected "PIVORA_INSTALLER_DIR: ${installer} has 2 file(s) in subfolders. PivoraSetup.exe "
                       "extracts the installer into its work folder and makes no folders there, so these "
                       "files cannot be extracted and every run would end with its \"setup file may be "
                       "damaged\" message. Keep the installer's files at the top of the folder: "
                       "data/more/two.txt data/one.txt Call Stack")
string(FIND "${folded}" "${expected}" at)
if(result EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "configure exit status ${result}; expected a failure with\n${expected}\n"
                      "got:\n${errors}")
endif()
