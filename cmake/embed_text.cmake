# Writes OUTPUT, a C++ file defining the const char arrays NAMES (a list)
# holding the text of the files INPUTS (a list, same order); both lists
# are separated by commas.
string(REPLACE "," ";" NAMES "${NAMES}")
string(REPLACE "," ";" INPUTS "${INPUTS}")
set(content "// Generated from the page's files at build time; do not edit.\n")
string(APPEND content "#include \"desktop/page_resources.h\"\n\nnamespace zept::desktop {\n\n")
foreach(name input IN ZIP_LISTS NAMES INPUTS)
  file(READ "${input}" text)
  string(APPEND content "const char ${name}[] = R\"zeptembed(${text})zeptembed\";\n\n")
endforeach()
string(APPEND content "}  // namespace zept::desktop\n")
file(WRITE "${OUTPUT}.tmp" "${content}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
