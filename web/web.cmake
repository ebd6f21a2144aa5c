# The show as a static web page, assembled into <build>/web/: the page's own
# files from web/, the show's shader and atlas as they are, and the music
# encoded to Opus by ffmpeg (a tenth of the WAV's size). Any static web
# server can serve the folder. The web tests serve it, so test builds make it with everything
# else; otherwise: cmake --build <build> --target web
set(TESSARY_WEB_DIR ${CMAKE_BINARY_DIR}/web)
set(web_page_files index.html tessary.css tessary.js glsl_es.js)
set(TESSARY_WEB_FILES)

foreach(name ${web_page_files})
  add_custom_command(
    OUTPUT ${TESSARY_WEB_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/web/${name} ${TESSARY_WEB_DIR}/${name}
    DEPENDS ${CMAKE_SOURCE_DIR}/web/${name}
    VERBATIM)
  list(APPEND TESSARY_WEB_FILES ${TESSARY_WEB_DIR}/${name})
endforeach()

add_custom_command(
  OUTPUT ${TESSARY_WEB_DIR}/tessary.glsl
  COMMAND ${CMAKE_COMMAND} -E copy ${TESSARY_DATA_DIR}/tessary.glsl ${TESSARY_WEB_DIR}/tessary.glsl
  DEPENDS ${TESSARY_DATA_DIR}/tessary.glsl
  VERBATIM)
add_custom_command(
  OUTPUT ${TESSARY_WEB_DIR}/font_subset_bw_sdf.jpg
  COMMAND ${CMAKE_COMMAND} -E copy ${TESSARY_DATA_DIR}/font_subset_bw_sdf.jpg ${TESSARY_WEB_DIR}/font_subset_bw_sdf.jpg
  DEPENDS atlas ${TESSARY_DATA_DIR}/font_subset_bw_sdf.jpg
  VERBATIM)
# The tab's icon: the glass sphere, like the desktop icon.
add_custom_command(
  OUTPUT ${TESSARY_WEB_DIR}/icon.png
  COMMAND tessary-capture --data ${TESSARY_DATA_DIR} --still 65 --size 64x64 -q -o ${TESSARY_WEB_DIR}/icon.png
  DEPENDS tessary-capture atlas ${TESSARY_DATA_DIR}/tessary.glsl
  COMMENT "Rendering the web page's icon"
  VERBATIM)
list(APPEND TESSARY_WEB_FILES ${TESSARY_WEB_DIR}/tessary.glsl ${TESSARY_WEB_DIR}/font_subset_bw_sdf.jpg
     ${TESSARY_WEB_DIR}/icon.png)

# Opus at 96 kbit/s keeps the page under 2.5 MB; browsers decode it to the
# WAV's length at its own 48 kHz. bitexact: the same WAV gives the same bytes.
set(opus ${TESSARY_WEB_DIR}/music.opus)
add_custom_command(
  OUTPUT ${opus}
  COMMAND ffmpeg -nostdin -hide_banner -loglevel error -y -i ${TESSARY_DATA_DIR}/music.wav
          -map_metadata -1 -fflags +bitexact -c:a libopus -b:a 96k -f ogg ${opus}.partial
  COMMAND ${CMAKE_COMMAND} -E rename ${opus}.partial ${opus}
  DEPENDS music ${TESSARY_DATA_DIR}/music.wav
  COMMENT "Encoding the web page's music.opus"
  VERBATIM)
list(APPEND TESSARY_WEB_FILES ${opus})

if(TESSARY_TESTS)
  add_custom_target(web ALL DEPENDS ${TESSARY_WEB_FILES})
else()
  add_custom_target(web DEPENDS ${TESSARY_WEB_FILES})
endif()
