# Placeholder until the payload build lands: no payload resources.
set(PIVORA_PAYLOAD_RC_DIR ${CMAKE_BINARY_DIR}/payload)
file(MAKE_DIRECTORY ${PIVORA_PAYLOAD_RC_DIR})
file(WRITE ${PIVORA_PAYLOAD_RC_DIR}/payload.rc "// no payload yet\n")
function(pivora_embed_payloads target)
endfunction()
