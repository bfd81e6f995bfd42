#include "swf/avm1.h"

#include <bit>
#include <limits>
#include <stdexcept>

namespace zept::swf {

namespace {

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putString(std::vector<std::uint8_t>& out, std::string_view s) {
  if (s.find('\0') != std::string_view::npos)
    throw std::invalid_argument("AVM1 string holds a NUL byte");
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

std::uint16_t checkedU16(std::size_t n, const char* what) {
  if (n > std::numeric_limits<std::uint16_t>::max())
    throw std::length_error(std::string(what) + " longer than 65535 bytes");
  return static_cast<std::uint16_t>(n);
}

}  // namespace

Assembler::Label Assembler::newLabel() {
  labels_.push_back(-1);
  return static_cast<Label>(labels_.size() - 1);
}

Assembler& Assembler::bind(Label label) {
  if (label < 0 || static_cast<std::size_t>(label) >= labels_.size())
    throw std::logic_error("AVM1 label of another assembler");
  if (labels_[label] >= 0) throw std::logic_error("AVM1 label bound twice");
  labels_[label] = static_cast<std::int64_t>(code_.size());
  return *this;
}

Assembler& Assembler::action(std::uint8_t code) {
  code_.push_back(code);
  return *this;
}

Assembler& Assembler::action(std::uint8_t code,
                             const std::vector<std::uint8_t>& data) {
  code_.push_back(code);
  putU16(code_, checkedU16(data.size(), "AVM1 action"));
  code_.insert(code_.end(), data.begin(), data.end());
  return *this;
}

Assembler& Assembler::push(std::uint8_t type,
                           const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> data{type};
  data.insert(data.end(), value.begin(), value.end());
  return action(0x96, data);
}

Assembler& Assembler::pushString(std::string_view utf8) {
  std::vector<std::uint8_t> value;
  putString(value, utf8);
  return push(0, value);
}

Assembler& Assembler::pushNumber(double number) {
  // A double is stored as two little-endian 32-bit halves, the high one
  // first.
  auto bits = std::bit_cast<std::uint64_t>(number);
  std::vector<std::uint8_t> value;
  putU32(value, static_cast<std::uint32_t>(bits >> 32));
  putU32(value, static_cast<std::uint32_t>(bits));
  return push(6, value);
}

Assembler& Assembler::pushInt(std::int32_t number) {
  std::vector<std::uint8_t> value;
  putU32(value, static_cast<std::uint32_t>(number));
  return push(7, value);
}

Assembler& Assembler::pushBool(bool b) {
  return push(5, {static_cast<std::uint8_t>(b ? 1 : 0)});
}
Assembler& Assembler::pushNull() { return push(2, {}); }
Assembler& Assembler::pushUndefined() { return push(3, {}); }
Assembler& Assembler::pushRegister(std::uint8_t reg) { return push(4, {reg}); }

Assembler& Assembler::pushConstant(std::uint16_t index) {
  if (index < 256) return push(8, {static_cast<std::uint8_t>(index)});
  std::vector<std::uint8_t> value;
  putU16(value, index);
  return push(9, value);
}

Assembler& Assembler::nextFrame() { return action(0x04); }
Assembler& Assembler::prevFrame() { return action(0x05); }
Assembler& Assembler::play() { return action(0x06); }
Assembler& Assembler::stop() { return action(0x07); }
Assembler& Assembler::subtract() { return action(0x0B); }
Assembler& Assembler::multiply() { return action(0x0C); }
Assembler& Assembler::divide() { return action(0x0D); }
Assembler& Assembler::and_() { return action(0x10); }
Assembler& Assembler::or_() { return action(0x11); }
Assembler& Assembler::not_() { return action(0x12); }
Assembler& Assembler::stringEquals() { return action(0x13); }
Assembler& Assembler::stringLength() { return action(0x14); }
Assembler& Assembler::pop() { return action(0x17); }
Assembler& Assembler::getVariable() { return action(0x1C); }
Assembler& Assembler::setVariable() { return action(0x1D); }
Assembler& Assembler::setTarget2() { return action(0x20); }
Assembler& Assembler::stringAdd() { return action(0x21); }
Assembler& Assembler::getProperty() { return action(0x22); }
Assembler& Assembler::setProperty() { return action(0x23); }
Assembler& Assembler::trace() { return action(0x26); }
Assembler& Assembler::randomNumber() { return action(0x30); }
Assembler& Assembler::getTime() { return action(0x34); }
Assembler& Assembler::delete_() { return action(0x3A); }
Assembler& Assembler::delete2() { return action(0x3B); }
Assembler& Assembler::defineLocal() { return action(0x3C); }
Assembler& Assembler::callFunction() { return action(0x3D); }
Assembler& Assembler::return_() { return action(0x3E); }
Assembler& Assembler::modulo() { return action(0x3F); }
Assembler& Assembler::newObject() { return action(0x40); }
Assembler& Assembler::defineLocal2() { return action(0x41); }
Assembler& Assembler::initArray() { return action(0x42); }
Assembler& Assembler::initObject() { return action(0x43); }
Assembler& Assembler::typeOf() { return action(0x44); }
Assembler& Assembler::targetPath() { return action(0x45); }
Assembler& Assembler::add2() { return action(0x47); }
Assembler& Assembler::less2() { return action(0x48); }
Assembler& Assembler::equals2() { return action(0x49); }
Assembler& Assembler::toNumber() { return action(0x4A); }
Assembler& Assembler::toString_() { return action(0x4B); }
Assembler& Assembler::pushDuplicate() { return action(0x4C); }
Assembler& Assembler::swap() { return action(0x4D); }
Assembler& Assembler::getMember() { return action(0x4E); }
Assembler& Assembler::setMember() { return action(0x4F); }
Assembler& Assembler::increment() { return action(0x50); }
Assembler& Assembler::decrement() { return action(0x51); }
Assembler& Assembler::callMethod() { return action(0x52); }
Assembler& Assembler::newMethod() { return action(0x53); }
Assembler& Assembler::instanceOf() { return action(0x54); }
Assembler& Assembler::enumerate2() { return action(0x55); }
Assembler& Assembler::strictEquals() { return action(0x66); }
Assembler& Assembler::greater() { return action(0x67); }
Assembler& Assembler::extends_() { return action(0x69); }

Assembler& Assembler::gotoFrame(std::uint16_t frame) {
  std::vector<std::uint8_t> data;
  putU16(data, frame);
  return action(0x81, data);
}

Assembler& Assembler::getUrl(std::string_view url, std::string_view target) {
  std::vector<std::uint8_t> data;
  putString(data, url);
  putString(data, target);
  return action(0x83, data);
}

Assembler& Assembler::storeRegister(std::uint8_t reg) {
  return action(0x87, {reg});
}

Assembler& Assembler::constantPool(const std::vector<std::string>& strings) {
  std::vector<std::uint8_t> data;
  putU16(data, checkedU16(strings.size(), "AVM1 constant pool"));
  for (const auto& s : strings) putString(data, s);
  return action(0x88, data);
}

Assembler& Assembler::setTarget(std::string_view target) {
  std::vector<std::uint8_t> data;
  putString(data, target);
  return action(0x8B, data);
}

Assembler& Assembler::gotoLabel(std::string_view label) {
  std::vector<std::uint8_t> data;
  putString(data, label);
  return action(0x8C, data);
}

Assembler& Assembler::getUrl2(std::uint8_t sendVarsMethod, bool loadTarget,
                              bool loadVariables) {
  if (sendVarsMethod > 2)
    throw std::invalid_argument("GetURL2 method is 0, 1 or 2");
  // The method is in the low bits, the two flags in the high ones.
  std::uint8_t flags = sendVarsMethod;
  if (loadTarget) flags |= 0x40;
  if (loadVariables) flags |= 0x80;
  return action(0x9A, {flags});
}

Assembler& Assembler::branch(std::uint8_t code, Label target) {
  if (target < 0 || static_cast<std::size_t>(target) >= labels_.size())
    throw std::logic_error("AVM1 label of another assembler");
  action(code, {0, 0});
  fixups_.push_back({code_.size() - 2, target});
  return *this;
}

Assembler& Assembler::jump(Label target) { return branch(0x99, target); }
Assembler& Assembler::ifTrue(Label target) { return branch(0x9D, target); }

Assembler& Assembler::defineFunction(std::string_view name,
                                     const std::vector<std::string>& params,
                                     const Assembler& body) {
  auto bodyCode = body.code();
  std::vector<std::uint8_t> data;
  putString(data, name);
  putU16(data, checkedU16(params.size(), "AVM1 parameter list"));
  for (const auto& p : params) putString(data, p);
  // The body follows the record; only its size is part of the record.
  putU16(data, checkedU16(bodyCode.size(), "AVM1 function body"));
  action(0x9B, data);
  code_.insert(code_.end(), bodyCode.begin(), bodyCode.end());
  return *this;
}

Assembler& Assembler::defineFunction2(const Function2& function,
                                      const Assembler& body) {
  auto bodyCode = body.code();
  std::vector<std::uint8_t> data;
  putString(data, function.name);
  putU16(data, checkedU16(function.params.size(), "AVM1 parameter list"));
  data.push_back(function.registerCount);
  putU16(data, function.flags);
  for (const auto& [reg, name] : function.params) {
    data.push_back(reg);
    putString(data, name);
  }
  putU16(data, checkedU16(bodyCode.size(), "AVM1 function body"));
  action(0x8E, data);
  code_.insert(code_.end(), bodyCode.begin(), bodyCode.end());
  return *this;
}

Assembler& Assembler::fscommand(std::string_view command,
                                std::string_view args) {
  return getUrl("FSCommand:" + std::string(command), args);
}

namespace {

// [] -> [flash.external.ExternalInterface]
void pushExternalInterface(Assembler& a) {
  a.pushString("flash").getVariable();
  a.pushString("external").getMember();
  a.pushString("ExternalInterface").getMember();
}

}  // namespace

Assembler& Assembler::callExternal(std::string_view name, int argc) {
  if (argc < 0) throw std::invalid_argument("negative argument count");
  pushString(name);
  pushInt(argc + 1);
  pushExternalInterface(*this);
  pushString("call");
  return callMethod();
}

Assembler& Assembler::addCallback(std::string_view name) {
  pushNull();
  pushString(name);
  pushInt(3);
  pushExternalInterface(*this);
  pushString("addCallback");
  callMethod();
  return pop();
}

std::vector<std::uint8_t> Assembler::code() const {
  auto out = code_;
  for (const auto& f : fixups_) {
    auto target = labels_[f.label];
    if (target < 0) throw std::logic_error("AVM1 jump to an unbound label");
    // Offsets count from the end of the branch record.
    auto offset = target - static_cast<std::int64_t>(f.at + 2);
    if (offset < std::numeric_limits<std::int16_t>::min() ||
        offset > std::numeric_limits<std::int16_t>::max())
      throw std::length_error("AVM1 jump further than 32767 bytes");
    auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(offset));
    out[f.at] = static_cast<std::uint8_t>(v);
    out[f.at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return out;
}

std::vector<std::uint8_t> Assembler::bytes() const {
  auto out = code();
  out.push_back(0);
  return out;
}

}  // namespace zept::swf
