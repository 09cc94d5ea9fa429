# cmake -DVEXELPACK=... -DMODULE=demo-game.so -DCA=test-ca-folder -DOUT=folder -P MakeModule.cmake
# The files a portal serves: vexel3d.lod (signed by the test CA's signer), its MD5 in the program's text
# form, the same file packed, and refusal samples (unsigned; signed under an untrusted root).
function(pack)
    execute_process(COMMAND ${VEXELPACK} ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "vexelpack ${ARGN} failed: ${err}")
    endif()
    set(output "${out}" PARENT_SCOPE)
endfunction()

pack(sign --key ${CA}/signer.key --cert ${CA}/signer.pem ${MODULE} ${OUT}/vexel3d.lod)
pack(verify --ca ${CA}/root.pem ${OUT}/vexel3d.lod)
pack(md5 ${OUT}/vexel3d.lod)
file(WRITE ${OUT}/vexel3d.lod.md5 "${output}")
pack(pack --7z ${OUT}/vexel3d.lod ${OUT}/vexel3d.lod.packed)
file(COPY_FILE ${MODULE} ${OUT}/vexel3d-unsigned.lod)
pack(sign --key ${CA}/rogue-signer.key --cert ${CA}/rogue-signer.pem ${MODULE} ${OUT}/vexel3d-untrusted.lod)
