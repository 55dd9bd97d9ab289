# Temperatures, fans and the temperature log.

# The log writer and the temperature texts need Qt Core only, so they build and test on
# their own.
add_library(tarnivel_temperaturelog STATIC
    ${CMAKE_CURRENT_LIST_DIR}/temperaturelog.h
    ${CMAKE_CURRENT_LIST_DIR}/temperaturelog.cpp)
target_include_directories(tarnivel_temperaturelog PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarnivel_temperaturelog PUBLIC Qt6::Core)

# The automatic fan rules, shared by the window and the INDI driver.
if(TARGET tarnivel_link AND TARGET tarnivel_settings)
    add_library(tarnivel_fanrule STATIC
        ${CMAKE_CURRENT_LIST_DIR}/fanrule.h
        ${CMAKE_CURRENT_LIST_DIR}/fanrule.cpp)
    target_include_directories(tarnivel_fanrule PUBLIC ${CMAKE_CURRENT_LIST_DIR})
    target_link_libraries(tarnivel_fanrule PUBLIC tarnivel_temperaturelog tarnivel_link
        tarnivel_settings)
endif()

# The "Temperature" and "Fan Control" frames of the main window.
if(TARGET tarnivel_motion AND TARGET tarnivel_ui
        AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/temperaturepanel.cpp)
    add_library(tarnivel_temperature STATIC
        ${CMAKE_CURRENT_LIST_DIR}/temperaturepanel.h
        ${CMAKE_CURRENT_LIST_DIR}/temperaturepanel.cpp)
    target_include_directories(tarnivel_temperature PUBLIC ${CMAKE_CURRENT_LIST_DIR})
    target_link_libraries(tarnivel_temperature PUBLIC tarnivel_temperaturelog tarnivel_fanrule
        tarnivel_motion
        tarnivel_ui Qt6::Widgets)
endif()
