#pragma once
// An assembler for AVM1 action records, the byte code of ActionScript 1 and
// 2 in DoAction tags, button actions and function bodies.
//
// Stack effects are written [before] -> [after], top of the stack last.
// Every string is UTF-8 (SWF 6 and later) and may not hold a NUL byte; such
// a string throws std::invalid_argument.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zept::swf {

class Assembler {
 public:
  // A jump target within this assembler; bound once, before or after the
  // jumps to it.
  using Label = int;
  Label newLabel();
  // Marks the position of the next action. Binding a label twice, or one
  // from another assembler, throws std::logic_error.
  Assembler& bind(Label label);

  // One ActionPush record per value: [] -> [value].
  Assembler& pushString(std::string_view utf8);
  Assembler& pushNumber(double value);     // type 6, a double
  Assembler& pushInt(std::int32_t value);  // type 7, an integer
  Assembler& pushBool(bool value);
  Assembler& pushNull();
  Assembler& pushUndefined();
  Assembler& pushRegister(std::uint8_t reg);
  // An entry of the last constantPool: type 8 below 256, else type 9.
  Assembler& pushConstant(std::uint16_t index);

  // Actions without data, named as in the format.
  Assembler& nextFrame();
  Assembler& prevFrame();
  Assembler& play();
  Assembler& stop();
  Assembler& add2();
  Assembler& subtract();
  Assembler& multiply();
  Assembler& divide();
  Assembler& modulo();
  Assembler& increment();
  Assembler& decrement();
  Assembler& equals2();
  Assembler& strictEquals();
  Assembler& less2();
  Assembler& greater();
  Assembler& not_();
  Assembler& and_();  // logical, both operands evaluated
  Assembler& or_();
  Assembler& typeOf();
  Assembler& toNumber();
  Assembler& toString_();
  Assembler& stringEquals();
  Assembler& stringAdd();
  Assembler& stringLength();
  Assembler& getVariable();   // [name] -> [value]
  Assembler& setVariable();   // [name, value] -> []
  Assembler& defineLocal();   // [name, value] -> []
  Assembler& defineLocal2();  // [name] -> []
  Assembler& getMember();     // [object, name] -> [value]
  Assembler& setMember();     // [object, name, value] -> []
  Assembler& delete_();       // [object, name] -> [success]
  Assembler& delete2();       // [name] -> [success]
  // [argN .. arg1, argc, name] -> [result]
  Assembler& callFunction();
  // [argN .. arg1, argc, object, name] -> [result]
  Assembler& callMethod();
  // [argN .. arg1, argc, name] -> [object]
  Assembler& newObject();
  // [argN .. arg1, argc, object, name] -> [object]
  Assembler& newMethod();
  // [name1, value1 .. nameN, valueN, count] -> [object]
  Assembler& initObject();
  // [elementN .. element1, count] -> [array]
  Assembler& initArray();
  Assembler& pop();
  Assembler& pushDuplicate();
  Assembler& swap();
  Assembler& return_();       // [value] -> leaves the function
  Assembler& trace();         // [value] -> []
  Assembler& getProperty();   // [target, index] -> [value]
  Assembler& setProperty();   // [target, index, value] -> []
  Assembler& enumerate2();    // [object] -> [null, nameN .. name1]
  Assembler& instanceOf();    // [object, constructor] -> [bool]
  Assembler& extends_();      // [subclass, superclass] -> []
  Assembler& getTime();       // [] -> [milliseconds since start]
  Assembler& randomNumber();  // [max] -> [0 .. max-1]
  Assembler& targetPath();    // [clip] -> [path]
  Assembler& setTarget2();    // [target] -> []; "" is the clip of the code

  // Actions with data.
  Assembler& gotoFrame(std::uint16_t frame);  // 0 is the first frame
  Assembler& gotoLabel(std::string_view label);
  Assembler& setTarget(std::string_view target);
  Assembler& storeRegister(std::uint8_t reg);  // [value] -> [value]
  Assembler& jump(Label target);
  Assembler& ifTrue(Label target);  // [condition] -> []; jumps when true
  // ActionGetURL; "FSCommand:cmd" as url sends an fscommand with the target
  // as its argument, "_levelN" as target loads a movie into that level.
  Assembler& getUrl(std::string_view url, std::string_view target);
  // ActionGetURL2: [url, target] -> []. sendVarsMethod 0 none, 1 GET,
  // 2 POST; loadTarget: the target is a clip path, not a browser window.
  Assembler& getUrl2(std::uint8_t sendVarsMethod, bool loadTarget,
                     bool loadVariables);
  // ActionConstantPool; replaces the pool pushConstant refers to.
  Assembler& constantPool(const std::vector<std::string>& strings);

  // ActionDefineFunction. A named function is stored in the current scope:
  // [] -> []; an anonymous one (name "") is pushed: [] -> [function]. The
  // body's labels are its own; a jump cannot leave the body.
  Assembler& defineFunction(std::string_view name,
                            const std::vector<std::string>& params,
                            const Assembler& body);

  // ActionDefineFunction2: parameters and preloaded values in registers.
  enum Preload : std::uint16_t {
    kPreloadThis = 0x0001,
    kSuppressThis = 0x0002,
    kPreloadArguments = 0x0004,
    kSuppressArguments = 0x0008,
    kPreloadSuper = 0x0010,
    kSuppressSuper = 0x0020,
    kPreloadRoot = 0x0040,
    kPreloadParent = 0x0080,
    kPreloadGlobal = 0x0100,
  };
  struct Function2 {
    std::string name;  // "" for an anonymous function
    std::uint8_t registerCount = 0;
    std::uint16_t flags = 0;  // Preload values or'ed
    // Register (1..255, 0 for none: the parameter is a named local) and name.
    std::vector<std::pair<std::uint8_t, std::string>> params;
  };
  Assembler& defineFunction2(const Function2& function, const Assembler& body);

  // Conveniences built from the actions above.

  // fscommand(command, args): [] -> [].
  Assembler& fscommand(std::string_view command, std::string_view args);
  // flash.external.ExternalInterface.call(name, arg1 .. argN) with the argc
  // arguments pushed already, the last one first:
  // [argN .. arg1] -> [result].
  Assembler& callExternal(std::string_view name, int argc);
  // flash.external.ExternalInterface.addCallback(name, null, function):
  // [function] -> [].
  Assembler& addCallback(std::string_view name);

  // The action records followed by ActionEnd. Throws std::logic_error for a
  // jump to a label never bound and std::length_error for a jump, record or
  // function body too long for its 16-bit field.
  std::vector<std::uint8_t> bytes() const;
  // The action records alone, labels resolved: a function body.
  std::vector<std::uint8_t> code() const;

 private:
  struct Fixup {
    std::size_t at;  // the offset field of an ActionJump or ActionIf
    Label label;
  };
  Assembler& action(std::uint8_t code);
  Assembler& action(std::uint8_t code, const std::vector<std::uint8_t>& data);
  Assembler& push(std::uint8_t type, const std::vector<std::uint8_t>& value);
  Assembler& branch(std::uint8_t code, Label target);

  std::vector<std::uint8_t> code_;
  std::vector<std::int64_t> labels_;  // position, -1 while unbound
  std::vector<Fixup> fixups_;
};

}  // namespace zept::swf
