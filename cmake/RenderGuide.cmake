# Renders the user guide (docs/guide.md) into one HTML page that a browser opens from disk, with
# the pictures it shows beside it.
#   cmake -DCMARK=<cmark> -DINPUT=<guide.md> -DOUTPUT=<index.html> -P RenderGuide.cmake
execute_process(COMMAND "${CMARK}" --to html "${INPUT}"
                OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmark could not render ${INPUT}")
endif()
file(WRITE "${OUTPUT}" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Velora user guide</title>
<style>
body { max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.5;
       font-family: 'NanumGothic', sans-serif; color: #222; }
img { max-width: 100%; }
code, pre { font-family: monospace; background: #f2f0ec; }
pre { padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
:lang(ko) { font-family: 'NanumGothic', sans-serif; }
</style>
</head>
<body>
${body}</body>
</html>
")
