# travik_signing_keys_source(<pem file or ""> <output .cpp>)
# Writes the C++ source that defines agent::BuiltInSigningKeys() with the DER bytes of
# every ECDSA P-256 public key ("-----BEGIN PUBLIC KEY-----") in the PEM file. Text outside
# the PEM blocks is ignored; a file without such a key, or with any other PEM block (a
# private key, a certificate, an RSA key), stops the configuration. An empty file name
# gives an agent without keys, which requires no signature.
#
# Also usable as a script, which is how the tests check the refusals:
#   cmake -DTRAVIK_SIGNING_KEYS=<pem> -DOUTPUT=<cpp> -P TravikSigningKeys.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# SubjectPublicKeyInfo of an id-ecPublicKey on prime256v1 with an uncompressed point, up
# to the point's 0x04: followed by X and Y, 32 bytes each (91 bytes in all).
set(_TRAVIK_P256_SPKI_PREFIX "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

# The bytes of the Base64 text `text` (whitespace ignored) as lower-case hex digits, or
# "" when it is not Base64 with padding.
function(_travik_base64_to_hex text out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(digits "0123456789abcdef")
  string(REGEX REPLACE "[ \t\r\n]" "" text "${text}")
  string(LENGTH "${text}" length)
  math(EXPR rest "${length} % 4")
  if(length EQUAL 0 OR NOT rest EQUAL 0 OR NOT text MATCHES "^[A-Za-z0-9+/]*(==?)?$")
    set(${out_var} "" PARENT_SCOPE)
    return()
  endif()
  set(hex "")
  math(EXPR last "${length} - 1")
  foreach(start RANGE 0 ${last} 4)
    set(group 0)
    set(padding 0)
    foreach(offset RANGE 0 3)
      math(EXPR at "${start} + ${offset}")
      string(SUBSTRING "${text}" ${at} 1 char)
      if(char STREQUAL "=")
        math(EXPR padding "${padding} + 1")
        set(value 0)
      else()
        string(FIND "${alphabet}" "${char}" value)
      endif()
      math(EXPR group "(${group} << 6) | ${value}")
    endforeach()
    math(EXPR bytes "3 - ${padding}")
    foreach(index RANGE 1 ${bytes})
      math(EXPR byte "(${group} >> (8 * (3 - ${index}))) & 255")
      math(EXPR high "${byte} >> 4")
      math(EXPR low "${byte} & 15")
      string(SUBSTRING "${digits}" ${high} 1 h)
      string(SUBSTRING "${digits}" ${low} 1 l)
      string(APPEND hex "${h}${l}")
    endforeach()
  endforeach()
  set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

function(travik_signing_keys_source pem_file output)
  set(keys "")
  if(NOT pem_file STREQUAL "")
    set(what "TRAVIK_SIGNING_KEYS (${pem_file})")
    if(NOT EXISTS "${pem_file}" OR IS_DIRECTORY "${pem_file}")
      message(FATAL_ERROR "${what}: no such file. Name a PEM file of the publisher's ECDSA "
                          "P-256 public keys, or leave it empty for an agent without keys.")
    endif()
    file(READ "${pem_file}" text)
    set(count 0)
    while(TRUE)
      string(FIND "${text}" "-----BEGIN " begin)
      if(begin EQUAL -1)
        break()
      endif()
      string(SUBSTRING "${text}" ${begin} -1 text)
      if(NOT text MATCHES "^-----BEGIN ([^\r\n-]*)-----")
        message(FATAL_ERROR "${what}: a PEM header line is malformed.")
      endif()
      set(label "${CMAKE_MATCH_1}")
      string(LENGTH "${CMAKE_MATCH_0}" header_length)
      string(SUBSTRING "${text}" ${header_length} -1 text)
      set(footer "-----END ${label}-----")
      string(FIND "${text}" "${footer}" end)
      if(end EQUAL -1)
        message(FATAL_ERROR "${what}: the PEM block \"${label}\" has no line \"${footer}\".")
      endif()
      string(SUBSTRING "${text}" 0 ${end} body)
      string(LENGTH "${footer}" footer_length)
      math(EXPR after "${end} + ${footer_length}")
      string(SUBSTRING "${text}" ${after} -1 text)
      math(EXPR count "${count} + 1")
      if(NOT label STREQUAL "PUBLIC KEY")
        message(FATAL_ERROR
                "${what}: PEM block ${count} (\"${label}\") is not a public key. The file may "
                "hold only the publisher's ECDSA P-256 public keys (\"BEGIN PUBLIC KEY\"); a "
                "private key never goes into the agent. Extract the public key with: openssl "
                "pkey -in private.pem -pubout -out public.pem")
      endif()
      _travik_base64_to_hex("${body}" der)
      string(LENGTH "${_TRAVIK_P256_SPKI_PREFIX}" prefix_length)
      string(LENGTH "${der}" der_length)
      set(p256 FALSE)
      if(der_length EQUAL 182)
        string(SUBSTRING "${der}" 0 ${prefix_length} prefix)
        if(prefix STREQUAL _TRAVIK_P256_SPKI_PREFIX)
          set(p256 TRUE)
        endif()
      endif()
      if(NOT p256)
        message(FATAL_ERROR
                "${what}: public key ${count} is not an ECDSA P-256 key with an uncompressed "
                "point (an RSA key, another curve, or damaged Base64). Make the key pair with: "
                "openssl ecparam -name prime256v1 -genkey -noout -out private.pem")
      endif()
      list(APPEND keys "${der}")
    endwhile()
    if(keys STREQUAL "")
      message(FATAL_ERROR "${what}: the file holds no ECDSA P-256 public key "
                          "(\"-----BEGIN PUBLIC KEY-----\").")
    endif()
  endif()

  set(source "// Generated by cmake/TravikSigningKeys.cmake")
  if(NOT pem_file STREQUAL "")
    string(APPEND source " from ${pem_file}")
  endif()
  string(APPEND source ": the publisher's public keys.\n"
                       "#include \"agent/SigningKeys.h\"\n\nnamespace agent {\n\n")
  list(LENGTH keys key_count)
  if(key_count EQUAL 0)
    string(APPEND source "std::span<const std::string_view> BuiltInSigningKeys() {\n"
                         "    return {};\n}\n")
  else()
    string(APPEND source "namespace {\n\nconstexpr std::string_view kKeys[] = {\n")
    foreach(der IN LISTS keys)
      string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${der}")
      string(APPEND source "    {\"${escaped}\", 91},\n")
    endforeach()
    string(APPEND source "};\n\n}  // namespace\n\n"
                         "std::span<const std::string_view> BuiltInSigningKeys() {\n"
                         "    return kKeys;\n}\n")
  endif()
  string(APPEND source "\n}  // namespace agent\n")
  # Rewritten only when it changes, so configuring again rebuilds nothing.
  file(WRITE "${output}.new" "${source}")
  file(COPY_FILE "${output}.new" "${output}" ONLY_IF_DIFFERENT)
  file(REMOVE "${output}.new")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  travik_signing_keys_source("${TRAVIK_SIGNING_KEYS}" "${OUTPUT}")
endif()
