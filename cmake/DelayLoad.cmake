# Delay-loaded imports for every system DLL the program uses except kernel32
# and the C runtime. A normal import is resolved by the loader before the entry
# point runs, and so are the imports of that DLL in turn; any of them that is
# not a KnownDLL (winhttp, gdiplus, comctl32, or version as a dependency) is
# searched for in the executable's own folder first, where a planted copy
# beside a downloaded installer would be loaded. A delay-loaded import is
# resolved on first use, and the program's delay-load hook (ui/startup.cpp)
# loads each such DLL by its full System32 path, also on a Windows without
# SetDefaultDllDirectories.
#
# delay_import_library(<dll>) defines the target delayed_<dll>: an import
# library made by dlltool --output-delaylib from the exports of MinGW's own
# import library lib<dll>.a. __delayLoadHelper2 comes from libmingwex.
function(delay_import_library dll)
  find_library(import_library_${dll} NAMES lib${dll}.a REQUIRED)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  set(definition ${folder}/${dll}.def)
  set(library ${folder}/lib${dll}_delayed.a)
  if(NOT EXISTS ${library} OR ${import_library_${dll}} IS_NEWER_THAN ${library})
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import_library_${dll}}
                    OUTPUT_VARIABLE symbols ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE "^I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    file(WRITE ${definition} "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${definition} --dllname ${dll}.dll
                            --output-delaylib ${library}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(delayed_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(delayed_${dll} PROPERTIES IMPORTED_LOCATION ${library})
endfunction()

foreach(dll winhttp gdiplus comctl32 user32 gdi32 shell32 ole32 oleaut32 oleacc advapi32 crypt32 wintrust)
  delay_import_library(${dll})
endforeach()
