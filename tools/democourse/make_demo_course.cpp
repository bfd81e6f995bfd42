// Builds the demo course: a copy of the course package whose movies are
// made from the ActionScript and the pages beside this file.
//
//   make_demo_course COURSE_FOLDER SCRIPT_FOLDER OUTPUT_FOLDER

#include <exception>
#include <iostream>

#include "democourse/demo_course.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make_demo_course COURSE_FOLDER SCRIPT_FOLDER "
                 "OUTPUT_FOLDER\n";
    return 2;
  }
  try {
    zept::democourse::WriteDemoCourse(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "make_demo_course: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
