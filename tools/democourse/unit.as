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

// An answer stands once given: its feedback has shown the right one. The
// result page offers the whole quiz again (retryQuiz).
function answer(question, letter) {
  if (answers[question] != "") return;
  answers[question] = letter;
  showAnswer(question);
  setValue("cmi.suspend_data", suspendData());
  nextButton._visible = page < pages.length;
}

// The answer given, or none: the chosen box and the right one marked, the
// feedback said, and the choices closed; with none, all open again.
function showAnswer(question) {
  var q = questions[question];
  var given = answers[question];
  for (var i = 0; i < q.choices.length; i++) {
    var letter = q.choices[i];
    var clip = q.screen[letter];
    clip.selected = letter == given;
    clip.enabled = given == "";
    clip.hover._visible = false;
    clip.right._visible = given != "" && letter == q.correct;
    clip.wrong._visible = letter == given && letter != q.correct;
    clip.right.label.text = letter == given ? "Your answer" : "Right answer";
    clip.wrong.label.text = "Your answer";
  }
  if (given == "") {
    q.screen.feedback.text = "";
  } else if (given == q.correct) {
    q.screen.feedback.text = "Right. " + q.why;
  } else {
    q.screen.feedback.text = "Not quite: the answer is " + q.correct + ". " +
                             q.why;
  }
}

function isChoice(question, letter) {
  var choices = questions[question].choices;
  for (var i = 0; i < choices.length; i++) {
    if (choices[i] == letter) return true;
  }
  return false;
}

// Every answer cleared, from the first question on. The status and score
// stored stay until the last page records the new ones.
function retryQuiz() {
  for (var i = 0; i < questions.length; i++) {
    answers[i] = "";
    showAnswer(i);
  }
  setValue("cmi.suspend_data", "");
  goPage(questions[0].page);
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
    // A letter that is none of the question's choices would close it
    // unanswered.
    if (startsWith(pair[0], "q") && n >= 1 && n <= questions.length &&
        isChoice(n - 1, pair[1])) {
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
  var passed = masteryScore <= 0 || score() >= masteryScore;
  if (masteryScore <= 0) {
    screen.verdict.text = "Well done: you have finished the quiz.";
  } else if (passed) {
    screen.verdict.text = "Passed: the pass mark is " + masteryScore + " %.";
  } else {
    // The word the menu shows for this status.
    screen.verdict.text = "Failed: the pass mark is " + masteryScore + " %.";
  }
  // A pass is kept: another go could lose it.
  screen.retry._visible = right < questions.length &&
                          (masteryScore <= 0 || !passed);
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
