// What the demo course's units teach: fire safety at work, in a few pages
// and two short quizzes.

#include "democourse/demo_course.h"

namespace zept::democourse {

UnitContent DemoUnitContent(int number) {
  UnitContent c;
  switch (number) {
    case 1:
      c.pages = {
          {"Heat, fuel and oxygen",
           "A fire needs three things at the same time: heat, fuel and "
           "oxygen. Take any one of them away and the fire goes out.\n\n"
           "Most fires at work start because two of them were kept close to "
           "the third without anyone noticing.",
           {"Heat", "Fuel", "Oxygen"}},
          {"Heat",
           "Common sources of heat at work:\n\n"
           "- faulty wiring and overloaded sockets\n"
           "- heaters, kettles and hot plates left on\n"
           "- sparks from grinding or welding\n"
           "- cigarettes that were not put out",
           {}},
          {"Fuel",
           "Almost everything in an office burns: paper, cardboard, wood, "
           "furniture and fabrics. Flammable liquids and gases burn fast.\n\n"
           "Keep waste tidy, store liquids in closed containers and keep "
           "everything that burns away from heat.",
           {}},
          {"Oxygen",
           "The air around us holds enough oxygen to feed a fire. Oxygen "
           "cylinders and some chemicals add more.\n\n"
           "Closed doors starve a fire of air and slow it down.\n\n"
           "You have finished this unit.",
           {}},
      };
      break;
    case 2:
      c.pages = {
          {"If you discover a fire",
           "Raise the alarm at once: break the glass of the nearest call "
           "point and shout \"Fire!\".\n\n"
           "Then call the fire service on the emergency number, even if you "
           "think someone else already has.",
           {"See", "Shout", "Call"}},
          {"When the alarm sounds",
           "- leave by the nearest safe exit\n"
           "- close the doors behind you\n"
           "- never use a lift\n"
           "- do not stop to collect your things\n"
           "- go to the assembly point and report to the fire marshal",
           {}},
      };
      c.quiz = {
          {"You find a small fire in a waste bin. What do you do first?",
           {"Raise the alarm", "Finish your e-mail", "Open the windows"},
           'a',
           "Raising the alarm first gets everyone moving."},
          {"The alarm sounds. Which way do you leave?",
           {"By the lift", "By the nearest safe exit",
            "By the main entrance only"},
           'b',
           "The nearest safe exit is the quickest way out."},
          {"Where do you go once you are out of the building?",
           {"Back to your desk", "Home", "To the assembly point"},
           'c',
           "The fire marshal counts everyone at the assembly point."},
      };
      break;
    case 3:
      c.pages = {
          {"Check what you know",
           "Three questions on the whole course. Pick an answer on each "
           "page, then go on with Next.\n\nYour score is recorded.",
           {}},
      };
      c.quiz = {
          {"What three things does a fire need?",
           {"Heat, fuel and oxygen", "Heat, water and smoke",
            "Fuel, light and noise"},
           'a',
           "Heat, fuel and oxygen: take one away and the fire goes out."},
          {"Which of these is a common source of heat at work?",
           {"A closed door", "An overloaded socket", "A fire blanket"},
           'b',
           "Overloaded sockets and faulty wiring start many fires."},
          {"Why close the doors behind you when you leave?",
           {"To keep the office tidy", "To keep visitors out",
            "To slow the fire and the smoke"},
           'c',
           "A closed door starves the fire of air."},
      };
      break;
    default:
      c.pages = {{"Coming soon", "This unit has no pages yet.", {}}};
  }
  return c;
}

}  // namespace zept::democourse
