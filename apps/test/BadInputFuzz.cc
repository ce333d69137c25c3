// Mutation fuzzer over korvan-run, in process: models that use every resource type and solver
// configurations are mutated at random, and every run must end in exit status 0, 1 or 2, with
// every refusal (2) naming the file and the line. A case that runs past its time limit, or a
// sanitizer report, prints the seed and the inputs that reproduce it.
//
// KORVAN_FUZZ_SEED (default 20261206) and KORVAN_FUZZ_CASES (default 800) choose the slice;
// KORVAN_FUZZ_CASE_SECONDS (default 60) is the limit of one case.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Utils/base/Debug.hh"
#include "apps/KorvanRun.hh"

#if defined(__has_include)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define KORVAN_FUZZ_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVAN_FUZZ_SANITIZED 1
#endif
// The runtime's hook exists only in a sanitised build.
#if defined(KORVAN_FUZZ_SANITIZED) && __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define KORVAN_FUZZ_DEATH_CALLBACK 1
#endif
#endif

namespace {

const char* const MODELS[] = {
    // Every kind of resource, with tokens over flexible windows.
    "<vexl>\n"
    "  <new type=\"Resource\" name=\"tank\"><float value=\"50\"/><float value=\"0\"/><float value=\"100\"/></new>\n"
    "  <new type=\"Reservoir\" name=\"battery\"><float value=\"15\"/><float value=\"0\"/><float value=\"25\"/></new>\n"
    "  <new type=\"Reusable\" name=\"crew\"><float value=\"2\"/><float value=\"0\"/></new>\n"
    "  <new type=\"Unary\" name=\"press\"/>\n"
    "  <set object=\"crew\" member=\"profileType\" value=\"FlowProfile\"/>\n"
    "  <close/>\n"
    "  <fact predicate=\"Resource.change\" name=\"refill\" object=\"tank\" time=\"40\" quantity=\"30\"/>\n"
    "  <goal predicate=\"Resource.change\" name=\"rinse\" object=\"tank\" time=\"0 30\" quantity=\"-35\"/>\n"
    "  <goal predicate=\"Reservoir.consume\" name=\"drive\" object=\"battery\" time=\"0 20\" quantity=\"8\"/>\n"
    "  <fact predicate=\"Reservoir.produce\" name=\"charge\" object=\"battery\" time=\"10 20\" quantity=\"5\"/>\n"
    "  <goal predicate=\"Reusable.uses\" name=\"weld\" object=\"crew\" start=\"0 40\" duration=\"10\" quantity=\"1\"/>\n"
    "  <goal predicate=\"Reusable.uses\" name=\"lift\" object=\"crew\" start=\"0 40\" duration=\"5\" quantity=\"2\"/>\n"
    "  <goal predicate=\"Unary.use\" name=\"press1\" object=\"press\" start=\"0 30\" duration=\"10\"/>\n"
    "  <goal predicate=\"Unary.use\" name=\"press2\" object=\"press\" start=\"0 30\" duration=\"10\"/>\n"
    "  <constraint name=\"precedes\" scope=\"press1.end rinse.time\"/>\n"
    "</vexl>\n",
    // Several resources of each profile-based kind, tokens with object lists and constraints.
    "<vexl>\n"
    "  <new type=\"Unary\" name=\"a\"/>\n"
    "  <new type=\"Unary\" name=\"b\"><float value=\"30\"/></new>\n"
    "  <new type=\"Reusable\" name=\"r\"><float value=\"3\"/><float value=\"0\"/><float value=\"2\"/></new>\n"
    "  <new type=\"Reservoir\" name=\"s\"><float value=\"5\"/><float value=\"0\"/><float value=\"10\"/><float value=\"4\"/><float value=\"4\"/></new>\n"
    "  <set object=\"a\" member=\"profileType\" value=\"TimetableProfile\"/>\n"
    "  <close/>\n"
    "  <goal predicate=\"Unary.use\" name=\"u1\" object=\"a\" start=\"0 10\" duration=\"5\"/>\n"
    "  <goal predicate=\"Unary.use\" name=\"u2\" object=\"a b\" start=\"0 10\" duration=\"5\"/>\n"
    "  <goal predicate=\"Reusable.uses\" name=\"v1\" object=\"r\" start=\"0 20\" duration=\"4\" quantity=\"2\"/>\n"
    "  <goal predicate=\"Reusable.uses\" name=\"v2\" object=\"r\" start=\"0 20\" duration=\"3 6\" quantity=\"1 2\"/>\n"
    "  <goal predicate=\"Reservoir.consume\" name=\"c1\" object=\"s\" time=\"0 9\" quantity=\"3\"/>\n"
    "  <goal predicate=\"Reservoir.produce\" name=\"p1\" object=\"s\" time=\"0 9\" quantity=\"2\"/>\n"
    "  <constraint name=\"precedes\" scope=\"u1.end v1.start\"/>\n"
    "  <constraint name=\"concurrent\" scope=\"c1.time p1.time\"/>\n"
    "  <specify variable=\"v2.quantity\" value=\"1\"/>\n"
    "  <reset variable=\"v2.quantity\"/>\n"
    "</vexl>\n",
    // Instant-based resources with the longer constructors, and a class of the model's own.
    "<vexl>\n"
    "  <class name=\"Rover\"><predicate name=\"drive\"><member name=\"distance\" type=\"float\"/></predicate></class>\n"
    "  <new type=\"Rover\" name=\"rover\"/>\n"
    "  <new type=\"Resource\" name=\"fuel\"><float value=\"10\"/><float value=\"0\"/><float value=\"20\"/><float value=\"5\"/><float value=\"-5\"/></new>\n"
    "  <new type=\"Resource\" name=\"power\"><float value=\"4\"/><float value=\"0\"/><float value=\"8\"/><float value=\"2\"/><float value=\"6\"/><float value=\"-2\"/><float value=\"-6\"/></new>\n"
    "  <close/>\n"
    "  <goal predicate=\"Rover.drive\" name=\"d\" object=\"rover\" start=\"0 10\" duration=\"5\" distance=\"1 3\"/>\n"
    "  <goal predicate=\"Resource.change\" name=\"f1\" object=\"fuel\" time=\"0 10\" quantity=\"-4\"/>\n"
    "  <goal predicate=\"Resource.change\" name=\"f2\" object=\"fuel power\" time=\"0 10\" quantity=\"-2 1\"/>\n"
    "  <goal predicate=\"Resource.change\" name=\"g1\" object=\"power\" time=\"5\" quantity=\"2\"/>\n"
    "  <constraint name=\"precedes\" scope=\"d.end f1.time\"/>\n"
    "</vexl>\n",
};

const char* const CONFIGS[] = {
    "<Solver name=\"resources\" maxSteps=\"300\" maxDepth=\"60\">\n"
    "  <FlawManager component=\"MIRTThreatManager\" order=\"lower,most,earliest\">\n"
    "    <FlawHandler component=\"MIRTThreatHandler\" filter=\"none\"\n"
    "                 order=\"earliestPredecessor,latestSuccessor\" constraint=\"precedesOnly\"\n"
    "                 iterate=\"pairFirst\"/>\n"
    "  </FlawManager>\n"
    "  <FlawManager component=\"ThreatManager\">\n"
    "    <FlawHandler component=\"ResourceThreat\" priority=\"10\"/>\n"
    "  </FlawManager>\n"
    "</Solver>\n",
    "<Solver name=\"host\" maxSteps=\"300\">\n"
    "  <FlawManager component=\"ThreatManager\">\n"
    "    <FlawHandler component=\"ThreatHandler\"/>\n"
    "  </FlawManager>\n"
    "</Solver>\n",
    "<Solver name=\"filters\" maxSteps=\"300\" maxDepth=\"60\">\n"
    "  <FlawManager component=\"MIRTThreatManager\" order=\"earliest\">\n"
    "    <FlawHandler component=\"MIRTThreatHandler\" class=\"Reusable\" priority=\"1\"/>\n"
    "    <FlawHandler component=\"MIRTThreatHandler\" predicate=\"use\" iterate=\"constraintFirst\"/>\n"
    "  </FlawManager>\n"
    "</Solver>\n",
};

// Every attribute name that some element takes, token variables included: a name outside this
// list can only be refused.
const char* const VOCABULARY[] = {"name", "extends", "type", "kind", "value", "object", "member", "scope", "variable",
                                  "predicate", "rejectable", "start", "end", "duration", "time", "quantity", "state",
                                  "distance", "component", "priority", "class", "filter", "order", "constraint",
                                  "iterate", "maxSteps", "maxDepth"};

const char* const CONSTRAINTS[] = {"precedes", "concurrent", "temporalDistance", "StartEndDurationRelation", "eq",
                                   "neq", "leq", "addEq", "ResourceTransactionRelation", "ResourceObjectRelation",
                                   "precede"};
// The time points first: a scope of the wrong size over them once outlived its constraint.
const char* const VARIABLES[] = {"start", "end", "duration", "time", "quantity", "object", "state", "distance",
                                 "capacity", "consumptionMax", "levelLimitMin", "profileType"};

// Fragments that the mutations insert: elements that are legal on their own but hurt in the
// wrong place, and values at the edges.
const char* const ELEMENTS[] = {
    "<close/>", "<close object=\"a\"/>", "<close object=\"tank\"/>", "<close object=\"crew\"/>",
    "<new type=\"Unary\" name=\"late\"/>", "<new type=\"Reservoir\" name=\"z\"><float value=\"1\"/><float value=\"2\"/><float value=\"0\"/></new>",
    "<new type=\"Reusable\" name=\"neg\"><float value=\"-1\"/><float value=\"0\"/></new>",
    "<new type=\"Resource\" name=\"q\"><float value=\"1\"/><float value=\"0\"/><float value=\"2\"/></new>",
    "<goal predicate=\"Unary.use\" name=\"x\" object=\"a\" start=\"0 10\" duration=\"5\"/>",
    "<goal predicate=\"Unary.use\" name=\"y\" object=\"press\" start=\"inf\" duration=\"5\"/>",
    "<goal predicate=\"Reservoir.consume\" name=\"w\" time=\"0 5\" quantity=\"1\"/>",
    "<goal predicate=\"Resource.change\" name=\"k\" object=\"tank fuel\" time=\"0 5\" quantity=\"-1\"/>",
    "<constraint name=\"eq\" scope=\"u1.object u2.object\"/>", "<constraint name=\"neq\" scope=\"u1.object u2.object\"/>",
    "<constraint name=\"eq\" scope=\"press1.object weld.object\"/>",
    "<constraint name=\"ResourceTransactionRelation\" scope=\"c1.quantity c1.time c1.object\"/>",
    "<constraint name=\"precedes\" scope=\"press2.end press1.start\"/>",
    "<specify variable=\"u2.object\" value=\"b\"/>", "<reset variable=\"u2.object\"/>",
    "<set object=\"r\" member=\"profileType\" value=\"Nonsense\"/>", "<set object=\"a\" member=\"capacity\" value=\"2\"/>",
    "<FlawManager component=\"MIRTThreatManager\" order=\"upper,lower\"/>",
    "<FlawHandler component=\"MIRTThreatHandler\" filter=\"both\" constraint=\"concurrentFirst\" iterate=\"constraintFirst\"/>",
    "<FlawHandler component=\"MIRTThreatHandler\" order=\"leastImpact\" filter=\"bogus\"/>",
    "<FlawHandler component=\"NoSuchHandler\"/>", "<!-- a comment -->", "<![CDATA[ <not/> ]]>",
};

const char* const VALUES[] = {"0", "-1", "1", "2", "5 1", "inf", "-inf", "+inf", "1e300", "nan", "", " ",
                              "0 inf", "-inf inf", "a", "a b", "press", "tank", "crew battery", "3.5", "-0",
                              "FlowProfile", "IncrementalFlowProfile", "x y z", "0x10", "1 2 3"};

std::string pick(std::mt19937& rng, const std::vector<std::string>& items) {
  return items[rng() % items.size()];
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream is(text);
  std::string line;
  while (std::getline(is, line))
    result.push_back(line);
  return result;
}

std::string join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts)
    text += part + "\n";
  return text;
}

// The line of the element that holds the text at pos (where its '<' stands).
int elementLine(const std::string& text, size_t pos) {
  size_t open = text.rfind('<', pos);
  return 1 + (int)std::count(text.begin(), text.begin() + (open == std::string::npos ? 0 : open), '\n');
}

// Whether an element surely takes the attribute: true where it may (token variables, the root,
// components of their own).
bool takes(const std::string& tag, const std::string& element, const std::string& name) {
  static const std::map<std::string, std::vector<std::string>> sl_takes = {
      {"new", {"type", "name"}}, {"float", {"value"}}, {"set", {"object", "member", "value"}},
      {"close", {"object"}}, {"constraint", {"name", "scope"}}, {"specify", {"variable", "value"}},
      {"reset", {"variable"}}, {"class", {"name", "extends"}}, {"member", {"name", "type"}},
      {"predicate", {"name", "kind"}}, {"Solver", {"name", "maxSteps", "maxDepth"}},
      {"MIRTThreatManager", {"component", "order"}}, {"ThreatManager", {"component"}},
      {"MIRTThreatHandler", {"component", "priority", "class", "predicate", "variable", "filter", "order",
                             "constraint", "iterate"}},
      {"ThreatHandler", {"component", "priority", "class", "predicate", "variable"}},
      {"ResourceThreat", {"component", "priority", "class", "predicate", "variable"}}};
  std::string key = tag;
  if (tag == "FlawManager" || tag == "FlawHandler") {
    std::smatch component;
    if (!std::regex_search(element, component, std::regex(" component=\"([A-Za-z]+)\"")))
      return true;
    key = component[1];
  }
  std::map<std::string, std::vector<std::string>>::const_iterator it = sl_takes.find(key);
  return it == sl_takes.end() || std::find(it->second.begin(), it->second.end(), name) != it->second.end();
}

bool inVocabulary(const std::string& name) {
  for (const char* word : VOCABULARY)
    if (name == word)
      return true;
  return false;
}

// A constraint with a name from the list and one to four variables of the model's tokens and
// objects, of every kind, in place of one of the model's constraints (or added at the end).
std::string mutateConstraint(std::mt19937& rng, const std::string& text) {
  std::vector<std::string> owners;
  const std::regex named("<(goal|fact|new)[^>]* name=\"([A-Za-z0-9_]+)\"");
  for (std::sregex_iterator m(text.begin(), text.end(), named), end; m != end; ++m)
    owners.push_back((*m)[2]);
  if (owners.empty())
    return text;
  std::string scope;
  for (size_t k = 0, size = 1 + rng() % 4; k < size; k++)
    scope += (k == 0 ? "" : " ") + owners[rng() % owners.size()] + "." +
             VARIABLES[rng() % 2 == 0 ? rng() % 4 : rng() % (sizeof(VARIABLES) / sizeof(VARIABLES[0]))];
  const std::string line = "<constraint name=\"" +
                           std::string(CONSTRAINTS[rng() % (sizeof(CONSTRAINTS) / sizeof(CONSTRAINTS[0]))]) +
                           "\" scope=\"" + scope + "\"/>";
  std::vector<std::string> ls = lines(text);
  std::vector<size_t> constraints;
  for (size_t i = 0; i < ls.size(); i++)
    if (ls[i].find("<constraint ") != std::string::npos)
      constraints.push_back(i);
  if (!constraints.empty() && rng() % 2 == 0)
    ls[constraints[rng() % constraints.size()]] = "  " + line;
  else if (ls.size() >= 2)
    ls.insert(ls.end() - 1, "  " + line);
  return join(ls);
}

// An attribute's name with one letter changed, the attribute dropped, or moved to another
// element; or a member name (of <set> or of a scope) with one letter changed. When the edit can
// only be refused, expectLine is the line of the element that must be named.
std::string mutateName(std::mt19937& rng, std::string text, int& expectLine, int& orLine) {
  const unsigned op = rng() % 4;
  const std::string letters = "abcdefghijklmnopqrstuvwxyzAZ";
  if (op == 3) { // a member name
    std::vector<std::pair<size_t, size_t>> members;
    const std::regex member("(member=\"|scope=\"[^\"]*\\.)([A-Za-z]+)");
    for (std::sregex_iterator m(text.begin(), text.end(), member), end; m != end; ++m)
      members.push_back(std::make_pair(size_t(m->position(2)), size_t(m->length(2))));
    if (members.empty())
      return text;
    std::pair<size_t, size_t> at = members[rng() % members.size()];
    const size_t pos = at.first + rng() % at.second;
    const char was = text[pos];
    text[pos] = letters[rng() % letters.size()];
    if (text[pos] != was && text.compare(at.first, at.second, "profileType") != 0 &&
        !inVocabulary(text.substr(at.first, at.second)))
      expectLine = elementLine(text, at.first);
    return text;
  }
  std::vector<std::pair<size_t, size_t>> attributes; // name's position and length
  const std::regex attribute("[ \t\n]([A-Za-z]+)=\"[^\"]*\"");
  for (std::sregex_iterator m(text.begin(), text.end(), attribute), end; m != end; ++m)
    attributes.push_back(std::make_pair(size_t(m->position(1)), size_t(m->length(1))));
  if (attributes.empty())
    return text;
  std::pair<size_t, size_t> at = attributes[rng() % attributes.size()];
  if (op == 0) {
    const size_t pos = at.first + rng() % at.second;
    text[pos] = letters[rng() % letters.size()];
    if (!inVocabulary(text.substr(at.first, at.second)))
      expectLine = elementLine(text, at.first);
    return text;
  }
  const size_t end = text.find('"', text.find('"', at.first) + 1) + 1;
  const std::string whole = " " + text.substr(at.first, end - at.first);
  const std::string name = text.substr(at.first, at.second);
  // The element that lost the attribute may be refused first.
  orLine = elementLine(text, at.first);
  text.erase(at.first - 1, end - at.first + 1);
  if (op == 2) { // moved after the tag name of another element
    std::vector<std::pair<size_t, std::string>> tags;
    const std::regex tag("<([A-Za-z]+)");
    for (std::sregex_iterator m(text.begin(), text.end(), tag), e; m != e; ++m)
      tags.push_back(std::make_pair(size_t(m->position() + m->length()), std::string((*m)[1])));
    if (tags.empty())
      return text;
    const std::pair<size_t, std::string> to = tags[rng() % tags.size()];
    const std::string element = text.substr(to.first, text.find('>', to.first) - to.first);
    if (!takes(to.second, element, name) && element.find(" " + name + "=") == std::string::npos)
      expectLine = elementLine(text, to.first);
    text.insert(to.first, whole);
  }
  return text;
}

// Words the XML reader would once drop or misread: text or a child element inside an element that
// takes none, a second root, a number in another form, an entity, a byte that is not UTF-8, an
// attribute given twice. All but inf and -0 can only be refused, at the line of the edit.
std::string mutateContent(std::mt19937& rng, std::string text, int& expectLine) {
  const unsigned op = rng() % 7;
  if (op == 6) { // an attribute given twice, the copy right after the first
    std::vector<std::pair<size_t, size_t>> attributes;
    const std::regex attribute(" [A-Za-z]+=\"[^\"<>]*\"");
    for (std::sregex_iterator m(text.begin(), text.end(), attribute), end; m != end; ++m)
      attributes.push_back(std::make_pair(size_t(m->position(0)), size_t(m->length(0))));
    if (attributes.empty())
      return text;
    const std::pair<size_t, size_t> a = attributes[rng() % attributes.size()];
    text.insert(a.first + a.second, text.substr(a.first, a.second));
    expectLine = 1 + (int)std::count(text.begin(), text.begin() + a.first, '\n');
    return text;
  }
  if (op == 0 || op == 1) { // text, or an element, inside a self-closing element
    std::vector<size_t> ends;
    for (size_t at = text.find("/>"); at != std::string::npos; at = text.find("/>", at + 2))
      ends.push_back(at);
    if (ends.empty())
      return text;
    const size_t at = ends[rng() % ends.size()];
    const size_t open = text.rfind('<', at);
    const std::string tag = text.substr(open + 1, text.find_first_of(" \t\n/", open + 1) - open - 1);
    static const char* const inside[] = {"2 0", "x", "&amp;", "<float value=\"1\"/>", "<member name=\"m\"/>"};
    const std::string content = inside[op == 0 ? rng() % 3 : 3 + rng() % 2];
    text.replace(at, 2, ">" + content + "</" + tag + ">");
    // A <float> inside <new> is an argument, which some types take (a Unary's capacity).
    if (tag != "new" || content.compare(0, 6, "<float") != 0)
      expectLine = 1 + (int)std::count(text.begin(), text.begin() + at, '\n');
    return text;
  }
  if (op == 2) { // a second root
    static const char* const roots[] = {"<vexl/>", "<Solver/>", "<vexl>\n  <close/>\n</vexl>"};
    expectLine = 1 + (int)std::count(text.begin(), text.end(), '\n');
    return text + roots[rng() % 3] + "\n";
  }
  if (op == 3) { // a number in another form
    std::vector<std::pair<size_t, size_t>> numbers;
    const std::regex number("=\"(-?[0-9]+( -?[0-9]+)?)\"");
    for (std::sregex_iterator m(text.begin(), text.end(), number), end; m != end; ++m)
      numbers.push_back(std::make_pair(size_t(m->position(1)), size_t(m->length(1))));
    if (numbers.empty())
      return text;
    static const char* const forms[] = {"0x10", "1e400", "inf", "-0", "0X1p3", "1e-400"};
    const std::pair<size_t, size_t> n = numbers[rng() % numbers.size()];
    const std::string form = forms[rng() % 6];
    text.replace(n.first, n.second, form);
    if (form != "inf" && form != "-0")
      expectLine = elementLine(text, n.first);
    return text;
  }
  // An entity inside an attribute value, or a byte that is not UTF-8 anywhere.
  std::vector<size_t> quotes;
  for (size_t k = 0; k < text.size(); k++)
    if (text[k] == '"')
      quotes.push_back(k);
  if (op == 4 && quotes.size() >= 2) {
    static const char* const entities[] = {"&bogus;", "&", "&#65;", "&amp;", "&nbsp;"};
    const std::string entity = entities[rng() % 5];
    const size_t at = quotes[(rng() % (quotes.size() / 2)) * 2] + 1;
    text.insert(at, entity);
    if (entity == "&bogus;" || entity == "&" || entity == "&nbsp;")
      expectLine = 1 + (int)std::count(text.begin(), text.begin() + at, '\n');
    return text;
  }
  static const char* const bytes[] = {"\xe9", "\xff", "\xc0\xaf", "\xed\xa0\x80", "\x80"};
  const size_t at = rng() % (text.size() + 1);
  text.insert(at, bytes[rng() % 5]);
  expectLine = 1 + (int)std::count(text.begin(), text.begin() + at, '\n');
  return text;
}

// Mostly one edit, sometimes up to three: structural ones (lines moved, repeated,
// dropped, elements inserted), attribute values replaced, bytes changed, deep nesting,
// constraints over other scopes, attribute and member names changed.
std::string mutate(std::mt19937& rng, std::string text, int& expectLine, int& orLine) {
  int edits = rng() % 3 == 0 ? 1 + rng() % 3 : 1;
  expectLine = orLine = 0;
  for (int e = 0; e < edits; e++) {
    const unsigned family = rng() % 16;
    if (family >= 10) {
      int line = 0, other = 0;
      text = family <= 11   ? mutateConstraint(rng, text)
             : family <= 13 ? mutateName(rng, text, line, other)
                            : mutateContent(rng, text, line);
      // Another edit could be refused first.
      expectLine = edits == 1 ? line : 0;
      orLine = edits == 1 ? other : 0;
      continue;
    }
    std::vector<std::string> ls = lines(text);
    if (ls.size() < 2)
      ls.push_back("<vexl/>");
    size_t i = 1 + rng() % (ls.size() - 1), j = 1 + rng() % (ls.size() - 1);
    const unsigned kind = rng() % 10;
    if (kind == 0) { // a line moved: tokens before closing, closing twice...
      std::string moved = ls[i];
      ls.erase(ls.begin() + i);
      ls.insert(ls.begin() + std::min(j, ls.size()), moved);
    } else if (kind == 1) {
      ls.insert(ls.begin() + j, ls[i]);
    } else if (kind == 2) {
      ls.erase(ls.begin() + i);
    } else if (kind == 3) {
      ls.insert(ls.begin() + j, "  " + pick(rng, std::vector<std::string>(std::begin(ELEMENTS), std::end(ELEMENTS))));
    } else if (kind == 9 && rng() % 8 == 0) { // rarely, nesting far deeper than any model needs
      size_t depth = 200 + rng() % 40000;
      std::string open, close;
      for (size_t k = 0; k < depth; k++) {
        open += "<n>";
        close += "</n>";
      }
      ls.insert(ls.begin() + j, open + close);
      text = join(ls);
    }
    if (kind <= 3)
      text = join(ls);
    std::vector<std::string> values(std::begin(VALUES), std::end(VALUES));
    if (kind == 4 || kind == 5) { // an attribute value replaced
      std::vector<size_t> quotes;
      for (size_t k = 0; k < text.size(); k++)
        if (text[k] == '"')
          quotes.push_back(k);
      if (quotes.size() >= 2) {
        size_t q = (rng() % (quotes.size() / 2)) * 2;
        text = text.substr(0, quotes[q] + 1) + pick(rng, values) + text.substr(quotes[q + 1]);
      }
    } else if (kind == 6) { // a number changed
      std::vector<std::pair<size_t, size_t>> numbers;
      const std::regex number("-?[0-9]+");
      for (std::sregex_iterator m(text.begin(), text.end(), number), end; m != end; ++m)
        numbers.push_back(std::make_pair(size_t(m->position()), size_t(m->length())));
      if (!numbers.empty()) {
        std::pair<size_t, size_t> n = numbers[rng() % numbers.size()];
        text.replace(n.first, n.second, pick(rng, values));
      }
    } else if (kind == 7) { // bytes
      const std::string alphabet = "<>/=\" .-0123456789abcinxz\n";
      size_t pos = rng() % text.size();
      if (rng() % 2)
        text.erase(pos, 1 + rng() % 3);
      else
        text.insert(pos, 1, alphabet[rng() % alphabet.size()]);
    } else if (kind == 8) { // an element's text copied elsewhere
      size_t from = rng() % text.size(), to = rng() % text.size();
      text.insert(to, text.substr(from, 1 + rng() % 60));
    }
    if (text.empty())
      text = "<";
  }
  return text;
}

// What a crash or a hang prints: enough to replay the case.
std::mutex g_caseMutex;
std::string g_case;
std::atomic<long long> g_caseStart{0};
std::atomic<bool> g_done{false};

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void printCase() {
  std::lock_guard<std::mutex> lock(g_caseMutex);
  std::fputs(g_case.c_str(), stderr);
  std::fflush(stderr);
}

#ifdef KORVAN_FUZZ_DEATH_CALLBACK
void onSanitizerDeath() { printCase(); }
#endif

unsigned long envNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0')
    return fallback;
  return std::strtoul(text, nullptr, 10);
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out << text;
}

} // namespace

TEST(BadInputFuzz, EveryRunEndsWithAVerdictOrARefusalThatSaysWhere) {
  const unsigned long seed = envNumber("KORVAN_FUZZ_SEED", 20261206);
  const unsigned long cases = envNumber("KORVAN_FUZZ_CASES", 800);
  const long long limitMs = 1000LL * (long long)envNumber("KORVAN_FUZZ_CASE_SECONDS", 60);

  char dirTemplate[] = "/tmp/korvan-fuzz-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dirTemplate));
  const std::string dir = dirTemplate;
  const std::string modelPath = dir + "/model.xml", configPath = dir + "/solver.xml";

#ifdef KORVAN_FUZZ_DEATH_CALLBACK
  __sanitizer_set_death_callback(onSanitizerDeath);
#endif
  std::thread watchdog([limitMs]() {
    while (!g_done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      long long start = g_caseStart;
      if (start != 0 && nowMs() - start > limitMs) {
        std::fprintf(stderr, "A case ran longer than %lld s:\n", limitMs / 1000);
        printCase();
        std::_Exit(3);
      }
    }
  });

  std::mt19937 rng(seed);
  unsigned long counts[3] = {0, 0, 0};
  bool failed = false;
  for (unsigned long c = 0; c < cases && !failed; c++) {
    std::string model = MODELS[rng() % (sizeof(MODELS) / sizeof(MODELS[0]))];
    std::string config;
    bool withConfig = rng() % 2 == 0;
    if (withConfig)
      config = CONFIGS[rng() % (sizeof(CONFIGS) / sizeof(CONFIGS[0]))];
    // Mostly the model, sometimes the configuration, sometimes both.
    unsigned int target = rng() % 4;
    // A word that can only be refused must be refused at the line of its element.
    int modelLine = 0, configLine = 0, modelOrLine = 0, configOrLine = 0;
    if (target != 3 || !withConfig)
      model = mutate(rng, model, modelLine, modelOrLine);
    if (withConfig && target >= 2)
      config = mutate(rng, config, configLine, configOrLine);
    writeFile(modelPath, model);
    std::vector<std::string> args = {"--max-steps", "200", "--max-depth", "60"};
    if (withConfig) {
      writeFile(configPath, config);
      args.push_back("--solver");
      args.push_back(configPath);
    }
    args.push_back(modelPath);
    {
      std::ostringstream os;
      os << "seed " << seed << ", case " << c << " (KORVAN_FUZZ_SEED=" << seed
         << " KORVAN_FUZZ_CASES=" << c + 1 << ")\n--- model.xml\n"
         << model << (withConfig ? "--- solver.xml\n" + config : std::string()) << "---\n";
      std::lock_guard<std::mutex> lock(g_caseMutex);
      g_case = os.str();
    }
    g_caseStart = nowMs();
    std::ostringstream out, err;
    int status = KORVAN::HOST::run(args, out, err);
    g_caseStart = 0;

    bool ok = status >= 0 && status <= 2;
    std::string firstLine = err.str().substr(0, err.str().find('\n'));
    // "korvan-run: <file>:<line>: ..." for the model or the configuration, for a refusal and for
    // every warning.
    const std::string quotedDir = std::regex_replace(dir, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
    const std::regex where("^korvan-run: " + quotedDir + "/(model|solver)\\.xml:[0-9]+: .+");
    // (A value may hold a line break: only the lines that start a message are judged.)
    for (const std::string& line : lines(err.str()))
      if (line.compare(0, 12, "korvan-run: ") == 0)
        ok = ok && std::regex_match(line, where);
    ok = ok && (status != 2 || !firstLine.empty()) && (err.str().empty() || std::regex_match(firstLine, where));
    // Judged when one file alone was changed: the configuration's XML is read before the model.
    const int expectLine = modelLine != 0 ? modelLine : configLine;
    const int orLine = modelLine != 0 ? modelOrLine : configOrLine;
    const std::string expectFile = modelLine != 0 ? "/model.xml:" : "/solver.xml:";
    const bool configMutated = withConfig && target >= 2, modelMutated = target != 3 || !withConfig;
    if (expectLine != 0 && modelMutated != configMutated) {
      auto names = [&](int line) {
        return line != 0 && (firstLine.find(expectFile + std::to_string(line) + ": ") != std::string::npos ||
                             (firstLine.find(expectFile) != std::string::npos &&
                              firstLine.find(": line " + std::to_string(line) + ": ") != std::string::npos));
      };
      // Whatever needed the attribute where it was can be refused before its new element.
      bool between = false;
      for (int line = orLine; orLine != 0 && line < expectLine && !between; line++)
        between = names(line);
      ok = ok && status == 2 && (names(expectLine) || between);
      if (!ok)
        firstLine += " (expected a refusal at " + expectFile.substr(1) + std::to_string(expectLine) + ")";
    }
    if (status >= 0 && status <= 2)
      counts[status]++;
    if (!ok) {
      ADD_FAILURE() << "exit " << status << ", " << firstLine << "\n" << g_case;
      failed = true;
    }
  }
  g_done = true;
  watchdog.join();
  std::printf("%lu cases from seed %lu: %lu solved, %lu no solution, %lu refused\n", cases, seed, counts[0],
              counts[1], counts[2]);
  std::remove(modelPath.c_str());
  std::remove(configPath.c_str());
  rmdir(dir.c_str());
}
