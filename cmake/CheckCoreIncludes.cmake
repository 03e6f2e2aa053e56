# Fails when a file of the core includes anything but the C++ standard library or
# the core's own headers.
file(GLOB files "${CORE_DIR}/*.h" "${CORE_DIR}/*.cpp")
set(allowed
    algorithm any array atomic bit bitset cassert cctype cerrno chrono cinttypes climits
    cmath compare concepts condition_variable cstddef cstdint cstdio cstdlib cstring deque
    exception format functional initializer_list iomanip ios iosfwd
    iostream istream iterator limits list map memory mutex numeric optional ostream queue
    random ranges ratio set span sstream stack stdexcept stop_token string string_view
    system_error thread tuple type_traits unordered_map unordered_set utility variant
    vector)
set(bad "")
foreach(f IN LISTS files)
    file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
        if(line MATCHES "#[ \t]*include[ \t]*\"core/[A-Za-z0-9_]+\\.h\"")
            continue()
        endif()
        if(line MATCHES "#[ \t]*include[ \t]*<([a-z_]+)>")
            list(FIND allowed "${CMAKE_MATCH_1}" found)
            if(NOT found EQUAL -1)
                continue()
            endif()
        endif()
        list(APPEND bad "${f}: ${line}")
    endforeach()
endforeach()
if(bad)
    list(JOIN bad "\n  " text)
    message(FATAL_ERROR "The core may include only standard headers and its own:\n  ${text}")
endif()
