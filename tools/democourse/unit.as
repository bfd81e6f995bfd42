// A unit's movie (SCO_000n/player.swf): pages to read, maybe a short quiz
// with its result page, and the navigation around them.
//
// The generator sets pages (the page screens in order), questions ({page,
// screen, choices, correct, why} for each question, in order), resultPage
// (the page number of the quiz's result, 0 without a quiz) and
// masteryScore (0: none). The
// shell starts the movie with sLessonLocation, sLessonStatus, sSuspendData
// and sNavRequestValidContinue; what the unit records goes back through
// ExternalInterface calls of LMSSetValue, "element;value".

var page = 0;
var answers = [];  // the letter given to each question, "" when none

function setValue(element, value) {
  flash.external.ExternalInterface.call("LMSSetValue", element + ";" + value);
}

// ---------------------------------------------------------------- pages

function questionOf(n) {
  for (var i = 0; i < questions.length; i++) {
    if (questions[i].page == n) return i;
  }
  return -1;
}

function goPage(n) {
  if (n < 1 || n > pages.length) return;
  page = n;
  showScreen(pages[n - 1]);
  pageNumber.text = "Page " + n + " of " + pages.length;
  previousButton._visible = n > 1;
  var question = questionOf(n);
  nextButton._visible = n < pages.length && (question < 0 || answers[question] != "");
  nextUnitButton._visible = n == pages.length && sNavRequestValidContinue == "true";
  setValue("cmi.core.lesson_location", "page " + n);
  if (n == resultPage) showResult();
  if (n == pages.length) finish();
}

// The page the learner left, from "page n"; a unit left on its last page
// starts again at the first.
function startPage() {
  var location = "" + sLessonLocation;
  if (startsWith(location, "page ")) {
    var n = Math.floor(Number(location.substr(5)));
    if (n >= 1 && n < pages.length) return n;
  }
  return 1;
}

// ---------------------------------------------------------------- quiz

function answer(question, letter) {
  answers[question] = letter;
  showAnswer(question);
  var screen = questions[question].screen;
  if (letter == questions[question].correct) {
    screen.feedback.text = "Right. " + questions[question].why;
  } else {
    screen.feedback.text = "Not quite: the answer is " +
                           questions[question].correct + ". " +
                           questions[question].why;
  }
  setValue("cmi.suspend_data", suspendData());
  nextButton._visible = page < pages.length;
}

function showAnswer(question) {
  var choices = questions[question].choices;
  for (var i = 0; i < choices.length; i++) {
    selectButton(questions[question].screen[choices[i]],
                 choices[i] == answers[question]);
  }
}

// "q1=a,q2=c": the answers given so far.
function suspendData() {
  var parts = [];
  for (var i = 0; i < questions.length; i++) {
    if (answers[i] != "") parts.push("q" + (i + 1) + "=" + answers[i]);
  }
  return parts.join(",");
}

function restoreAnswers(text) {
  var parts = ("" + text).split(",");
  for (var i = 0; i < parts.length; i++) {
    var pair = parts[i].split("=");
    var n = Number(pair[0].substr(1));
    if (startsWith(pair[0], "q") && n >= 1 && n <= questions.length) {
      answers[n - 1] = pair[1];
      showAnswer(n - 1);
    }
  }
}

function score() {
  if (questions.length == 0) return 0;
  var right = 0;
  for (var i = 0; i < questions.length; i++) {
    if (answers[i] == questions[i].correct) right++;
  }
  return Math.round(100 * right / questions.length);
}

function showResult() {
  var right = 0;
  for (var i = 0; i < questions.length; i++) {
    if (answers[i] == questions[i].correct) right++;
  }
  var screen = pages[resultPage - 1];
  screen.score.text = right + " of " + questions.length + " right: " +
                      score() + " %";
  if (masteryScore <= 0) {
    screen.verdict.text = "Well done: you have finished the quiz.";
  } else if (score() >= masteryScore) {
    screen.verdict.text = "Passed: the pass mark is " + masteryScore + " %.";
  } else {
    screen.verdict.text = "Not passed yet: the pass mark is " + masteryScore +
                          " %. Go back and try the questions again.";
  }
}

// The last page: a unit without a quiz is completed; with one, its score
// decides.
function finish() {
  if (resultPage == 0) {
    setValue("cmi.core.lesson_status", "completed");
    return;
  }
  setValue("cmi.core.score.raw", "" + score());
  if (masteryScore <= 0) {
    setValue("cmi.core.lesson_status", "completed");
  } else {
    setValue("cmi.core.lesson_status",
             score() >= masteryScore ? "passed" : "failed");
  }
}

// ---------------------------------------------------------------- leaving

function sessionTime() {
  var seconds = Math.floor(getTimer() / 1000);
  return twoDigits(Math.floor(seconds / 3600)) + ":" +
         twoDigits(Math.floor(seconds / 60) % 60) + ":" +
         twoDigits(seconds % 60);
}

function goHome() {
  setValue("cmi.core.session_time", sessionTime());
  fscommand("sendGoToHome", "");
}

function goNextUnit() {
  setValue("cmi.core.session_time", sessionTime());
  fscommand("sendContinueSCO", "");
}

function savePage() {
  fscommand("sendPrintPagePDF", "");
}

// ---------------------------------------------------------------- start

for (var i = 0; i < questions.length; i++) answers.push("");
restoreAnswers(sSuspendData);
fscommand("sendAPILoaded", "");
if (sLessonStatus == undefined || sLessonStatus == "" ||
    sLessonStatus == "not attempted") {
  setValue("cmi.core.lesson_status", "incomplete");
}
goPage(startPage());
