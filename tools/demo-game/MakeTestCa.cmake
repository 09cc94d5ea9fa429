# cmake -DOPENSSL=... -DCONFIG=test-ca.cnf -DOUT=folder [-DKEY=RSA] -P MakeTestCa.cmake
# A test root and a code-signing certificate under an accepted signer name, plus a second root nobody
# trusts whose signer copies that name (for refusal checks). Keys are P-256 unless KEY=RSA (2048 bits, for
# Authenticode checkers that know no elliptic curves).
if(KEY STREQUAL "RSA")
    set(key_options -algorithm RSA -pkeyopt rsa_keygen_bits:2048)
else()
    set(key_options -algorithm EC -pkeyopt ec_paramgen_curve:P-256)
endif()
function(run)
    execute_process(COMMAND ${OPENSSL} ${ARGN} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "openssl ${ARGN} failed: ${err}")
    endif()
endfunction()

function(make_root name subject)
    run(genpkey ${key_options} -out ${OUT}/${name}.key)
    run(req -config ${CONFIG} -x509 -new -key ${OUT}/${name}.key -subj ${subject} -days 3650
        -extensions ca -out ${OUT}/${name}.pem)
endfunction()

function(issue name subject ca)
    run(genpkey ${key_options} -out ${OUT}/${name}.key)
    run(req -config ${CONFIG} -new -key ${OUT}/${name}.key -subj ${subject} -out ${OUT}/${name}.csr)
    string(RANDOM LENGTH 8 ALPHABET 123456789 serial)
    run(x509 -req -in ${OUT}/${name}.csr -CA ${OUT}/${ca}.pem -CAkey ${OUT}/${ca}.key -set_serial ${serial}
        -days 3650 -extfile ${CONFIG} -extensions codesign -out ${OUT}/${name}.pem)
    file(REMOVE ${OUT}/${name}.csr)
endfunction()

file(MAKE_DIRECTORY ${OUT})
make_root(root "/CN=Vexel Demo Test Root")
issue(signer "/CN=Vexel Studio Ltd." root)
make_root(rogue-root "/CN=Vexel Demo Test Root")
issue(rogue-signer "/CN=Vexel Studio Ltd." rogue-root)
