# The endpoint's libraries in layers: each may link only the libraries listed for it, so nothing
# reaches one above it (main -> app -> {heartbeat, scenario, device, log, ui} -> bus; the flows'
# engines stand on the bus alone). Checked when the build is configured: a link that breaks the
# layering stops the configuration with the offending pair named.
set(roamnode_layer_roamnode_bus "")
set(roamnode_layer_roamnode_log roamnode_bus)
set(roamnode_layer_roamnode_device roamnode_bus)
set(roamnode_layer_roamnode_flows roamnode_bus)
set(roamnode_layer_roamnode_heartbeat roamnode_bus)
set(roamnode_layer_roamnode_ui roamnode_bus)
set(roamnode_layer_roamnode_scenario roamnode_bus roamnode_flows roamnode_device)
set(roamnode_layer_roamnode_app roamnode_bus roamnode_heartbeat roamnode_log roamnode_device
    roamnode_scenario roamnode_ui)
set(roamnode_layer_roamnode_start roamnode_app roamnode_ui)
set(roamnode_layer_roamnode roamnode_start)

function(roamnode_check_layers)
    foreach(target roamnode_bus roamnode_log roamnode_device roamnode_flows roamnode_heartbeat
                   roamnode_ui roamnode_scenario roamnode_app roamnode_start roamnode)
        if(NOT TARGET ${target})
            message(FATAL_ERROR "layer check: ${target} is not defined")
        endif()
        get_target_property(links ${target} LINK_LIBRARIES)
        if(NOT links)
            continue()
        endif()
        foreach(link ${links})
            if(link MATCHES "^roamnode_" AND NOT link IN_LIST roamnode_layer_${target})
                message(FATAL_ERROR "layer check: ${target} may not link ${link} "
                                    "(allowed: ${roamnode_layer_${target}})")
            endif()
        endforeach()
    endforeach()
endfunction()
