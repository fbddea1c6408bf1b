# Checks the layer map (docs/DESIGN-NOTES.md): each folder includes only the project folders below
# it, and FFmpeg's headers are included only by the codec bridge, the AVIFile layer and the fuzz
# targets. Run by CTest: cmake -DSOURCE_DIR=<checkout> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLayers.cmake needs -DSOURCE_DIR=<the checkout>")
endif()

cmake_policy(SET CMP0007 NEW)
set(below_platform "platform/core,platform/avifile,platform/codec,platform/vfw,platform/x11")
# folder=the project folders its files may include (besides its own), separated by commas
set(rules
    "platform/core="
    "platform/avifile=platform/core"
    "platform/codec=platform/core"
    "platform/vfw=platform/core,platform/avifile,platform/codec"
    "platform/x11=platform/core"
    "platform/vfwdialog=platform/core,platform/codec,platform/vfw"
    "avi=${below_platform}"
    "shared=${below_platform},avi"
    "ui=${below_platform},avi,shared"
    "editor=${below_platform},avi,shared,ui"
    "dialogs=${below_platform},avi,shared,ui"
    "recorder=${below_platform},platform/vfwdialog,avi,shared,ui"
    "app=${below_platform},platform/vfwdialog,avi,shared,ui,editor,dialogs"
    "tools/qdx=${below_platform},avi,shared")
set(ffmpeg_folders platform/codec platform/vfw fuzz)
set(project_folders platform/core platform/avifile platform/codec platform/vfw platform/x11
    platform/vfwdialog avi shared ui editor dialogs recorder app tools/qdx tests bench fuzz)

set(faults "")
foreach(rule IN LISTS rules)
    string(REGEX REPLACE "=.*" "" folder "${rule}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${rule}")
    string(REPLACE "," ";" allowed "${allowed}")
    list(APPEND allowed ${folder})
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h
        ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
            set(owner "")
            foreach(candidate IN LISTS project_folders)
                string(LENGTH "${candidate}/" length)
                string(SUBSTRING "${path}" 0 ${length} start)
                if(start STREQUAL "${candidate}/")
                    set(owner ${candidate})
                endif()
            endforeach()
            if(owner AND NOT owner IN_LIST allowed)
                list(JOIN allowed ", " may)
                list(APPEND faults "${file} includes ${path} (${folder} may include ${may})")
            endif()
        endforeach()
    endforeach()
endforeach()

set(everything "")
foreach(folder IN LISTS project_folders)
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h
        ${SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND everything ${files})
endforeach()
foreach(file IN LISTS everything)
    set(free FALSE)
    foreach(folder IN LISTS ffmpeg_folders)
        if(file MATCHES "^${folder}/")
            set(free TRUE)
        endif()
    endforeach()
    if(free)
        continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${file} includes
        REGEX "^[ \t]*#[ \t]*include[ \t]*<lib(avcodec|avformat|avutil|swscale|swresample|avfilter|avdevice)/")
    foreach(line IN LISTS includes)
        list(APPEND faults "${file}: ${line} (FFmpeg's headers belong to platform/codec and platform/vfw)")
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Includes across the layers:\n  ${text}")
endif()
message(STATUS "Every include follows the layer map.")
