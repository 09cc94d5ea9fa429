# cmake -DOSSLSIGNCODE=... -DMODULE=demo-game.dll -DCA=test-ca-folder -DOUT=folder -P MakeSignedDll.cmake
# The Windows files a portal serves: vexel3d.lod (the DLL with an Authenticode signature by the test CA's
# signer), its MD5 in the program's text form, and refusal samples (unsigned; signed by a signer of the
# same name under a root nobody trusts).
function(sign key cert in out)
    file(REMOVE ${out})
    execute_process(COMMAND ${OSSLSIGNCODE} sign -certs ${cert} -key ${key} -h sha256 -n "Vexel Demo Game"
        -in ${in} -out ${out} RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "osslsigncode sign ${in} failed: ${log}")
    endif()
endfunction()

sign(${CA}/signer.key ${CA}/signer.pem ${MODULE} ${OUT}/vexel3d.lod)
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CA}/root.pem -in ${OUT}/vexel3d.lod
    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "osslsigncode verify of vexel3d.lod failed: ${log}")
endif()
# The program writes an MD5 as its bytes from the last to the first, in hexadecimal.
file(MD5 ${OUT}/vexel3d.lod md5)
set(text "")
foreach(i RANGE 30 0 -2)
    string(SUBSTRING ${md5} ${i} 2 byte)
    string(APPEND text ${byte})
endforeach()
file(WRITE ${OUT}/vexel3d.lod.md5 "${text}\n")
file(COPY_FILE ${MODULE} ${OUT}/vexel3d-unsigned.lod)
sign(${CA}/rogue-signer.key ${CA}/rogue-signer.pem ${MODULE} ${OUT}/vexel3d-untrusted.lod)
