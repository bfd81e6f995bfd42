// Standard packages in the zept window, measured: window.API beside a bare
// synchronous request to the scheme (10,000 of each, from the SCO's page),
// SCO launches from the controls to their pages' load events, the memory of
// zept and its web processes while a SCO plays, and a 200 MB .zip opened to
// its menu beside a small folder package; and a SCO seeking by ranges in a
// 300 MB entry of a .zip, stored and deflated: the time to each range's
// first byte, the longest a window.API call waited meanwhile (the main loop
// of zept answers it), and the memory of zept and its web processes.
//
// "cmi5" times a statement PUT from a cmi5 AU through zept's LRS beside the
// same bare request (2,000 of each, in rounds): the median of the rounds'
// means.
//
// "capture" compares window.API's LMSSetValue with and without results
// being captured for an LRS (an lrs.conf for a closed port), in turns.
//
// Needs a display (xvfb-run build/bench/zept_package_bench
// [seek|capture|cmi5];
// "seek" runs only the seeking SCO).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Manifest(int items) {
  std::string organization, resources;
  for (int i = 1; i <= items; ++i) {
    const std::string n = std::to_string(i);
    organization += "<item identifier=\"S" + n + "\" identifierref=\"R" + n +
                    "\"><title>Page " + n + "</title></item>";
    resources += "<resource identifier=\"R" + n +
                 "\" type=\"webcontent\" adlcp:scormtype=\"sco\" href=\"s" + n +
                 ".html\"/>";
  }
  return "<?xml version=\"1.0\"?><manifest identifier=\"BENCH\" "
         "xmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\" "
         "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\">"
         "<organizations default=\"O\"><organization identifier=\"O\"><title>"
         "Bench</title>" +
         organization + "</organization></organizations><resources>" +
         resources + "</resources></manifest>";
}

// Page 1 times the calls side by side, in rounds, then moves on; pages 2
// and 3 go back and forth through the controls, ten launches in all: the
// bench presses Alt+N, or Alt+P on page 3, as a learner would (zept's
// controls lie out of the pages' reach). The bare request is one the
// program answers at once, outside any session.
const std::map<std::string, std::string> kPages = {
    {"s1.html", R"(<!DOCTYPE html><html><body><script>
var A = parent.API; A.LMSInitialize("");
function bare() { var x = new XMLHttpRequest(); x.open("POST", "/api", false);
  x.send('["api","bare","LMSGetLastError"]'); return x.responseText; }
var rounds = 10, per = 1000, set = 0, plain = 0;
for (var r = 0; r < rounds; r++) {
  var t = performance.now();
  for (var i = 0; i < per; i++) A.LMSSetValue("cmi.core.lesson_location", "p" + i);
  set += performance.now() - t;
  t = performance.now();
  for (var i = 0; i < per; i++) bare();
  plain += performance.now() - t;
}
A.LMSSetValue("cmi.suspend_data", "set=" + (set / (rounds * per)).toFixed(4) +
              " bare=" + (plain / (rounds * per)).toFixed(4));
A.LMSFinish("");
</script></body></html>)"},
    {"s2.html", R"(<!DOCTYPE html><html><body><p>Two</p><script>
parent.API.LMSInitialize("");
</script></body></html>)"},
    {"s3.html", R"(<!DOCTYPE html><html><body><p>Three</p><script>
parent.API.LMSInitialize("");
</script></body></html>)"}};

struct Zept {
  pid_t pid = -1;
  fs::path output;
  Clock::time_point started;
};

Zept Start(const fs::path& root, const std::string& arguments) {
  Zept zept;
  zept.output = root / "zept.out";
  const std::string command =
      "HOME=" + (root / "home").string() +
      " XDG_DATA_HOME=" + (root / "data").string() +
      " NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled: exec " ZEPT_BINARY
      " " +
      arguments + " >" + zept.output.string() + " 2>&1";
  zept.started = Clock::now();
  zept.pid = ::fork();
  if (zept.pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    ::_exit(127);
  }
  return zept;
}

void Stop(Zept& zept) {
  ::kill(zept.pid, SIGTERM);
  ::waitpid(zept.pid, nullptr, 0);
}

// What a shell command prints.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

// Every line of the output holding part, once it has count of them.
std::vector<std::string> WaitLines(const Zept& zept, const std::string& part,
                                   std::size_t count, int timeoutMs = 60000) {
  std::vector<std::string> lines;
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    lines.clear();
    const std::string text = Slurp(zept.output);
    std::size_t at = 0;
    while ((at = text.find(part, at)) != std::string::npos) {
      const std::size_t begin = text.rfind('\n', at) + 1;
      lines.push_back(text.substr(begin, text.find('\n', at) - begin));
      at += part.size();
    }
    if (lines.size() >= count) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return lines;
}

long NumberAfter(const std::string& line, const std::string& before) {
  const std::size_t at = line.find(before);
  return at == std::string::npos
             ? -1
             : std::strtol(line.c_str() + at + before.size(), nullptr, 10);
}

// Proportional set size of pid and every process below it, kB.
long PssTree(pid_t pid) {
  long total = 0;
  std::map<pid_t, pid_t> parents;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = Slurp(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    int parent = 0;
    std::sscanf(stat.c_str() + close + 2, "%*c %d", &parent);
    parents[std::stoi(name)] = parent;
  }
  for (const auto& [child, parent] : parents) {
    pid_t up = child;
    while (up > 1 && up != pid) {
      auto it = parents.find(up);
      up = it == parents.end() ? 0 : it->second;
    }
    if (up != pid) continue;
    const std::string rollup =
        Slurp("/proc/" + std::to_string(child) + "/smaps_rollup");
    const long pss = NumberAfter(rollup, "\nPss:");
    if (pss > 0) total += pss;
  }
  return total;
}

long Median(std::vector<long> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A .zip of the package's pages and size bytes of incompressible files.
void WriteBigZip(const fs::path& path, std::size_t size) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  std::vector<std::string> keep;
  keep.reserve(kPages.size() + 1 + size / (1 << 20));
  const auto add = [&](const std::string& name, std::string bytes) {
    keep.push_back(std::move(bytes));
    zip_source_t* source =
        zip_source_buffer(archive, keep.back().data(), keep.back().size(), 0);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, 0);
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                             ZIP_CM_STORE, 0);
  };
  add("imsmanifest.xml", Manifest(3));
  for (const auto& [name, page] : kPages) add(name, page);
  std::mt19937_64 random(7);
  for (std::size_t done = 0, n = 0; done < size; done += 1 << 20, ++n) {
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      const std::uint64_t value = random();
      std::memcpy(bytes.data() + i, &value, 8);
    }
    add("media/clip" + std::to_string(n) + ".bin", std::move(bytes));
  }
  zip_close(archive);
}

// The seeking SCO: a while idle, then for each entry a range of 1 MB near
// its end and eight at random places, each timed from its request to its
// first byte and to its last, then eight ranges to the end at random places
// given up at their first byte, as a media element seeks; all the while a
// window.API call every 20 ms is timed.
constexpr char kSeekPage[] = R"(<!DOCTYPE html><html><body><script>
var A = parent.API; A.LMSInitialize("");
var size = SIZE, MB = 1048576, stall = 0, calls = 0;
function call() {
  var t = performance.now(); A.LMSGetValue("cmi.core.lesson_location");
  stall = Math.max(stall, performance.now() - t); calls++;
}
var tick = setInterval(call, 20);
function get(name, first, last, leave) {
  return new Promise(function (done) {
    var x = new XMLHttpRequest(), t = performance.now(), firstByte = 0;
    x.open("GET", "media/" + name);
    x.responseType = "arraybuffer";
    x.setRequestHeader("Range", "bytes=" + first + "-" + (leave ? "" : last));
    x.onreadystatechange = function () {
      if (x.readyState < 3 || firstByte) return;
      firstByte = performance.now() - t;
      if (leave) { done({ok: x.status == 206, first: firstByte, all: 0}); x.abort(); }
    };
    x.onloadend = function () {
      if (!leave) done({ok: x.status == 206 && x.response && x.response.byteLength == last - first + 1,
            first: firstByte, all: performance.now() - t});
    };
    x.send();
  });
}
var seed = 12345;
function random() { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648; }
function ms(list) { return list.map(function (v) { return v.toFixed(0); }).join(","); }
(async function () {
  await new Promise(function (done) { setTimeout(done, 2000); });
  var lines = ["idle stall=" + stall.toFixed(0)];
  for (var name of ["stored.bin", "packed.bin"]) {
    stall = 0;
    var got = [await get(name, size - MB, size - 1)];
    var firstStall = stall;
    stall = 0;
    for (var i = 0; i < 8; i++) {
      var at = Math.floor(random() * (size - MB));
      got.push(await get(name, at, at + MB - 1));
    }
    var left = [];
    for (var i = 0; i < 8; i++)
      left.push(await get(name, Math.floor(random() * size), 0, true));
    lines.push(name + " ok=" + got.every(function (r) { return r.ok; }) +
               " first=" + ms(got.map(function (r) { return r.first; })) +
               " all=" + ms(got.map(function (r) { return r.all; })) +
               " left=" + ms(left.map(function (r) { return r.first; })) +
               " leftok=" + left.every(function (r) { return r.ok; }) +
               " stall=" + firstStall.toFixed(0) + "," + stall.toFixed(0));
  }
  clearInterval(tick);
  A.LMSSetValue("cmi.suspend_data", "seekbench " + lines.join(" | ") + " calls=" + calls);
  A.LMSCommit("");
})();
</script></body></html>)";

// size bytes of made-up data in a file: pseudo-random, or lines of text
// that deflate well.
void WriteData(const fs::path& path, std::uint64_t size, bool random) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 generator(11);
  std::string piece;
  std::uint64_t line = 0;
  for (std::uint64_t done = 0; done < size; done += piece.size()) {
    piece.clear();
    if (random) {
      piece.resize(1 << 20);
      for (std::size_t i = 0; i + 8 <= piece.size(); i += 8) {
        const std::uint64_t value = generator();
        std::memcpy(piece.data() + i, &value, 8);
      }
    } else {
      char text[64];
      while (piece.size() < (1 << 20)) {
        std::snprintf(text, sizeof text, "line %012llu of the bench video\n",
                      static_cast<unsigned long long>(line++));
        piece += text;
      }
    }
    piece.resize(std::min<std::uint64_t>(piece.size(), size - done));
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
}

struct Played {
  std::string found;  // the text stored from marker on
  long peak = 0;      // kB of Pss, at most
  long after = 0;     // once found
};

// Plays the package as learner "bench" until its first item stores text
// beginning with marker (3 minutes at most), sampling the Pss meanwhile.
Played PlayUntil(const fs::path& root, const fs::path& package,
                 const std::string& marker) {
  fs::remove_all(root / "data");
  Zept zept = Start(root, "--learner bench --item S1 " + package.string());
  const std::string results = "XDG_DATA_HOME=" + (root / "data").string() +
                              " " ZEPT_RESULTS_BINARY " " + package.string() +
                              " 2>/dev/null";
  Played played;
  const auto until = Clock::now() + std::chrono::minutes(3);
  while (played.found.empty() && Clock::now() < until) {
    for (int i = 0; i < 10; ++i) {
      played.peak = std::max(played.peak, PssTree(zept.pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string out = Capture(results);
    const std::size_t at = out.find(marker);
    if (at != std::string::npos)
      played.found = out.substr(at, out.find('"', at) - at);
  }
  played.after = PssTree(zept.pid);
  Stop(zept);
  return played;
}

// A one-item package as a .zip: its manifest, page as "s1.html", and files
// on disk (entry name, path, stored or deflated). False, having said why,
// when it cannot be written.
bool WriteOneItemZip(
    const fs::path& zipPath, const std::string& page,
    const std::vector<std::tuple<std::string, fs::path, bool>>& files) {
  const std::string manifest = Manifest(1);
  int error = 0;
  zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  zip_file_add(archive, "imsmanifest.xml",
               zip_source_buffer(archive, manifest.data(), manifest.size(), 0),
               0);
  zip_file_add(archive, "s1.html",
               zip_source_buffer(archive, page.data(), page.size(), 0), 0);
  for (const auto& [name, path, stored] : files) {
    const zip_int64_t index =
        zip_file_add(archive, name.c_str(),
                     zip_source_file(archive, path.c_str(), 0, -1), 0);
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                             stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
  }
  if (zip_close(archive) != 0) {
    std::fprintf(stderr, "cannot write %s\n", zipPath.c_str());
    return false;
  }
  return true;
}

// The seeking SCO with its 300 MB entries, stored and deflated.
void SeekBench(const fs::path& root) {
  constexpr std::uint64_t kSize = std::uint64_t{300} << 20;
  const fs::path zipPath = root / "media.zip";
  WriteData(root / "stored.bin", kSize, true);
  WriteData(root / "packed.bin", kSize, false);
  std::string page = kSeekPage;
  page.replace(page.find("SIZE"), 4, std::to_string(kSize));
  if (!WriteOneItemZip(zipPath, page,
                       {{"media/stored.bin", root / "stored.bin", true},
                        {"media/packed.bin", root / "packed.bin", false}}))
    return;
  fs::remove(root / "stored.bin");
  fs::remove(root / "packed.bin");

  const Played played = PlayUntil(root, zipPath, "seekbench ");
  std::printf(
      "300 MB entries of a .zip, 1 MB ranges (ms to first byte, to last; "
      "the first near the end, then 8 at random), ranges to the end given "
      "up at their first byte (left: ms to it); stall: the longest "
      "window.API call meanwhile, ms (during the first range, then the "
      "rest):\n  %s\n",
      played.found.empty() ? "(no result)" : played.found.c_str());
  std::printf(
      "zept and its web processes while seeking: %ld MB Pss at most, "
      "%ld MB after\n",
      played.peak / 1024, played.after / 1024);
}

// A real video of about 300 MB (90 s of H.264 at 26 Mbit/s with AAC, its
// index at the end), stored in a .zip: the SCO plays it, seeks to 60 s, 10 s
// and 80 s, each timed to its "seeked", and plays on 2 s after the last.
constexpr char kVideoPage[] = R"(<!DOCTYPE html><html><body>
<video id="v" width="320" height="180" autoplay muted src="video.mp4"></video>
<script>
var A = parent.API; A.LMSInitialize("");
var v = document.getElementById("v"), t0 = performance.now(), log = [];
var seeks = [60, 10, 80], asked = 0;
function next() { asked = performance.now(); v.currentTime = seeks.shift(); }
v.addEventListener("playing", function once() {
  v.removeEventListener("playing", once);
  log.push("playing=" + Math.round(performance.now() - t0)); next();
});
v.addEventListener("seeked", function () {
  log.push("seeked=" + Math.round(performance.now() - asked));
  if (seeks.length) return next();
  var at = v.currentTime;
  setTimeout(function () {
    log.push("played=" + (v.currentTime - at).toFixed(1) + "s");
    A.LMSSetValue("cmi.suspend_data", "videobench " + log.join(" ")); A.LMSCommit("");
  }, 2000);
});
v.addEventListener("error", function () {
  A.LMSSetValue("cmi.suspend_data", "videobench error " + v.error.code); A.LMSCommit("");
});
</script></body></html>)";

void VideoBench(const fs::path& root) {
  const fs::path video = root / "video.mp4";
  const std::string encode =
      "gst-launch-1.0 -q videotestsrc pattern=snow num-buffers=2700 ! "
      "video/x-raw,width=640,height=360,framerate=30/1 ! videoconvert ! "
      "openh264enc bitrate=26000000 rate-control=bitrate complexity=low ! "
      "h264parse ! mp4mux name=m ! filesink location=" +
      video.string() +
      " audiotestsrc num-buffers=3876 ! audioconvert ! voaacenc ! m. "
      ">/dev/null 2>&1";
  if (std::system(encode.c_str()) != 0 || !fs::exists(video)) {
    std::printf("video: gst-launch-1.0 could not make the video\n");
    return;
  }
  const fs::path zipPath = root / "video.zip";
  if (!WriteOneItemZip(zipPath, kVideoPage, {{"video.mp4", video, true}}))
    return;
  const auto size = fs::file_size(video);
  fs::remove(video);
  const Played played = PlayUntil(root, zipPath, "videobench ");
  std::printf(
      "a %ju MB video stored in a .zip, in a <video> (ms to playing, to each "
      "seeked: 60 s, 10 s, 80 s):\n  %s\nzept and its web processes: %ld MB "
      "Pss at most\n",
      static_cast<std::uintmax_t>(size >> 20),
      played.found.empty() ? "(no result)" : played.found.c_str(),
      played.peak / 1024);
}

}  // namespace

// What the calls page stored: "set=MS bare=MS".
std::string StoredTimes(const fs::path& root, const fs::path& folder) {
  const std::string command = "XDG_DATA_HOME=" + (root / "data").string() +
                              " " ZEPT_RESULTS_BINARY " " + folder.string() +
                              " 2>/dev/null";
  const std::string out = Capture(command);
  const std::size_t at = out.find("set=");
  return at == std::string::npos ? std::string("(not stored)")
                                 : out.substr(at, out.find('"', at) - at);
}

// The calls page played with and without statements captured, in turns,
// each in a zept of its own from an empty store.
void CaptureBench(const fs::path& root, const fs::path& folder) {
  const fs::path conf = root / "home/.config/zept/lrs.conf";
  std::vector<long> without, with;
  for (int round = 0; round < 10; ++round) {
    const bool capture = round % 2 == 1;
    fs::remove_all(root / "data");
    fs::remove(conf);
    if (capture) {
      fs::create_directories(conf.parent_path());
      std::ofstream(conf)
          << "[lrs]\nendpoint=http://127.0.0.1:9/xAPI/\nusername=k\n"
             "password=s\nhomepage=https://learners.example.org\n"
             "activity-base=https://courses.example.org/\n";
    }
    Zept zept = Start(root, "--learner bench --item S1 " + folder.string());
    std::string times;
    for (int waited = 0; waited < 120000; waited += 200) {
      if ((times = StoredTimes(root, folder)).starts_with("set=")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    Stop(zept);
    // Microseconds a call, from "set=0.2071 bare=...".
    const long us = std::lround(std::atof(times.c_str() + 4) * 1000);
    (capture ? with : without).push_back(us);
  }
  const long a = Median(without), b = Median(with);
  std::printf(
      "window.API LMSSetValue, median of %zu runs of 10,000: %ld us a call "
      "without capture, %ld us with (%.3fx)\n",
      with.size(), a, b, a > 0 ? static_cast<double>(b) / a : 0.0);
}

// An AU that sends what cmi5 asks first, then times allowed statements PUT
// to zept's LRS beside bare requests, and says the figures on its console.
constexpr char kTimingAu[] = R"(<!DOCTYPE html><html><body><script>
var q = new URLSearchParams(location.search), auth = "";
function req(method, url, body) {
  var x = new XMLHttpRequest(); x.open(method, url, false);
  if (auth) x.setRequestHeader("Authorization", auth);
  x.setRequestHeader("X-Experience-API-Version", "1.0.3");
  x.setRequestHeader("Content-Type", "application/json");
  x.send(body || null); return x;
}
auth = "Basic " + JSON.parse(req("POST", q.get("fetch")).responseText)["auth-token"];
var ep = q.get("endpoint"), agent = q.get("actor");
var data = JSON.parse(req("GET", ep + "activities/state?stateId=LMS.LaunchData&activityId=" +
    encodeURIComponent(q.get("activityId")) + "&agent=" + encodeURIComponent(agent) +
    "&registration=" + q.get("registration")).responseText);
req("GET", ep + "agents/profile?profileId=cmi5LearnerPreferences&agent=" + encodeURIComponent(agent));
function put(verb, cmi5) {
  var context = JSON.parse(JSON.stringify(data.contextTemplate));
  context.registration = q.get("registration");
  if (cmi5) context.contextActivities.category = [{id: "https://w3id.org/xapi/cmi5/context/categories/cmi5"}];
  var s = {id: crypto.randomUUID(), timestamp: new Date().toISOString(), actor: JSON.parse(agent),
           verb: {id: verb}, object: {id: q.get("activityId")}, context: context};
  return req("PUT", ep + "statements?statementId=" + s.id, JSON.stringify(s)).status;
}
function bare() { var x = new XMLHttpRequest(); x.open("POST", "/api", false);
  x.send('["api","bare","LMSGetLastError"]'); return x.responseText; }
put("http://adlnet.gov/expapi/verbs/initialized", true);
var rounds = 10, per = 200, puts = [], bares = [];
for (var r = 0; r < rounds; r++) {
  var t = performance.now();
  for (var i = 0; i < per; i++) put("http://adlnet.gov/expapi/verbs/experienced");
  puts.push((performance.now() - t) / per);
  t = performance.now();
  for (var i = 0; i < per; i++) bare();
  bares.push((performance.now() - t) / per);
}
function median(v) { v.sort(function (a, b) { return a - b; }); return v[v.length >> 1]; }
req("PUT", ep + "activities/state?stateId=bench&activityId=" + encodeURIComponent(q.get("activityId")) +
    "&agent=" + encodeURIComponent(agent) + "&registration=" + q.get("registration"),
    "put=" + median(puts).toFixed(4) + " bare=" + median(bares).toFixed(4));
</script></body></html>)";

void Cmi5Bench(const fs::path& root) {
  const fs::path folder = root / "cmi5";
  fs::create_directories(folder);
  std::ofstream(folder / "cmi5.xml")
      << R"(<?xml version="1.0"?><courseStructure xmlns="https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd"><course id="https://example.org/bench"><title><langstring>Bench</langstring></title><description><langstring>d</langstring></description></course><au id="https://example.org/bench/au"><title><langstring>AU</langstring></title><description><langstring>d</langstring></description><url>au.html</url></au></courseStructure>)";
  std::ofstream(folder / "au.html") << kTimingAu;
  Zept zept =
      Start(root, "--learner bench --item https://example.org/bench/au " +
                      folder.string());
  // The AU keeps its figures as a state document, read from the store: a
  // content view's console goes nowhere once its process is ended.
  const std::string figures =
      "sqlite3 -readonly " + (root / "data").string() +
      "/zept/packages/*.sqlite \"SELECT body FROM lrs_documents WHERE "
      "id='bench'\" 2>/dev/null";
  std::string said;
  for (int waited = 0; waited < 300000 && said.empty(); waited += 500) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    said = Capture(figures);
  }
  Stop(zept);
  if (said.empty()) {
    std::printf("cmi5: the AU gave no figures\n%s", Slurp(zept.output).c_str());
    return;
  }
  std::printf(
      "cmi5 statement PUT beside a bare request, ms a request "
      "(target: PUT 1 ms): %s",
      said.c_str());
}

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "zept_package_bench: needs a display (xvfb-run)\n");
    return 2;
  }
  char pattern[] = "/tmp/zept-package-bench-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  if (argc > 1 && std::strcmp(argv[1], "seek") == 0) {
    SeekBench(root);
    fs::remove_all(root);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "cmi5") == 0) {
    Cmi5Bench(root);
    fs::remove_all(root);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "video") == 0) {
    VideoBench(root);
    fs::remove_all(root);
    return 0;
  }
  const fs::path folder = root / "package";
  fs::create_directories(folder);
  std::ofstream(folder / "imsmanifest.xml") << Manifest(3);
  for (const auto& [name, page] : kPages) std::ofstream(folder / name) << page;
  if (argc > 1 && std::strcmp(argv[1], "capture") == 0) {
    CaptureBench(root, folder);
    fs::remove_all(root);
    return 0;
  }

  // Calls, launches and memory.
  Zept zept = Start(root, "--learner bench --item S1 " + folder.string());
  std::vector<std::string> launches;
  for (std::size_t n = 1; n <= 11; ++n) {
    launches = WaitLines(zept, "has loaded (", n, 180000);
    if (launches.size() < n || n == 11) break;
    const bool third = launches.back().find("Item S3 ") != std::string::npos;
    [[maybe_unused]] const int pressed = std::system(
        (std::string("xdotool windowfocus --sync $(xdotool search "
                     "--onlyvisible --name 'Bench$' | head -n 1) key ") +
         (third ? "alt+p" : "alt+n"))
            .c_str());
  }
  const long pss = PssTree(zept.pid);
  Stop(zept);
  std::vector<long> launchMs;
  for (std::size_t i = 1; i < launches.size(); ++i)  // the first is cold
    launchMs.push_back(NumberAfter(launches[i], "has loaded ("));
  const std::string stored = StoredTimes(root, folder);
  std::printf("window.API beside a bare request, ms a call: %s\n",
              stored.c_str());
  std::printf("SCO launch to its load event, median of %zu: %ld ms\n",
              launchMs.size(), Median(launchMs));
  std::printf("zept and its web processes with a SCO playing: %ld MB Pss\n",
              pss / 1024);

  // Opened to the menu: a 200 MB .zip beside the small folder.
  const fs::path big = root / "big.zip";
  WriteBigZip(big, std::size_t{200} << 20);
  for (const auto& [name, path] :
       {std::pair<const char*, fs::path>{"folder", folder},
        {"200 MB zip", big}}) {
    std::vector<long> times;
    for (int run = 0; run < 5; ++run) {
      fs::remove_all(root / "data");
      Zept menu = Start(root, "--learner bench " + path.string());
      const std::vector<std::string> shown =
          WaitLines(menu, "The course menu is shown (", 1);
      if (!shown.empty()) times.push_back(NumberAfter(shown[0], "is shown ("));
      Stop(menu);
    }
    std::printf("%s opened to its menu, median of 5: %ld ms after start\n",
                name, Median(times));
  }
  SeekBench(root);
  VideoBench(root);
  fs::remove_all(root);
  return 0;
}
