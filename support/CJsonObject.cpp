// JSON value wrapper over cJSON.
//
// Integers: cJSON keeps every number as a double, which loses integers above 2^53. An integer is
// therefore kept as a cJSON_Raw node whose valuestring is its exact decimal text (cJSON prints raw
// nodes verbatim, so its printers need no help) and whose valueint, unused by cJSON for raw
// nodes, carries the signedness mark. After parsing, the tree is walked in document order beside
// a scan of the text's number tokens, and each token without fraction or exponent that fits 64
// bits turns its node into such an integer node. Every other number stays a cJSON double.
#include "CJsonObject.h"

#include <cjson/cJSON.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

const char kNoValue[] = "json data is null!";
const char kNotObject[] = "not a json object! json array?";
const char kNotArray[] = "not a json array! json object?";
const char kKeyExists[] = "key exists!";
const char kParseError[] = "prase json string error at ";
const char kCreateSubObjectError[] = "create sub empty object error!";
const char kCreateSubArrayError[] = "create sub empty array error!";

// ---- integer nodes ----

enum IntegerSign : int { kSigned = 0, kUnsigned = 1 };

bool IsInteger(const cJSON* node) { return cJSON_IsRaw(node) && node->valuestring != nullptr; }

cJSON* CreateInteger(const std::string& digits, IntegerSign sign) {
    cJSON* node = cJSON_CreateRaw(digits.c_str());
    if (node != nullptr) node->valueint = sign;
    return node;
}

// The integer converted to T as C++ converts a 64-bit integer of the node's signedness.
template <typename T>
T IntegerAs(const cJSON* node) {
    if (node->valueint == kUnsigned)
        return static_cast<T>(std::strtoull(node->valuestring, nullptr, 10));
    return static_cast<T>(std::strtoll(node->valuestring, nullptr, 10));
}

// Turns a parsed cJSON number into an integer node in place; on allocation failure it stays a
// double, which is still a valid value.
void MakeInteger(cJSON* node, const std::string& digits, IntegerSign sign) {
    char* text = static_cast<char*>(cJSON_malloc(digits.size() + 1));
    if (text == nullptr) return;
    std::memcpy(text, digits.c_str(), digits.size() + 1);
    node->type = (node->type & ~0xFF) | cJSON_Raw;
    node->valuestring = text;
    node->valueint = sign;
}

// A number token of JSON text read as a 64-bit integer: only "-?digits" that fits. The digits are
// given back in canonical form ("-0" and leading zeros, which cJSON accepts, are normalised).
bool ReadIntegerToken(const std::string& token, std::string& digits, IntegerSign& sign) {
    if (token.empty() || token.find_first_of(".eE+") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    if (token[0] == '-') {
        const long long number = std::strtoll(token.c_str(), &end, 10);
        if (errno != 0 || *end != '\0') return false;
        digits = std::to_string(number);
        sign = kSigned;
    } else {
        const unsigned long long number = std::strtoull(token.c_str(), &end, 10);
        if (errno != 0 || *end != '\0') return false;
        digits = std::to_string(number);
        sign = number > static_cast<unsigned long long>(LLONG_MAX) ? kUnsigned : kSigned;
    }
    return true;
}

// Yields the number tokens of JSON text in document order, skipping string literals with their
// escapes. In text that cJSON accepted, a number token is the longest run of the characters
// cJSON's number reader takes, and nothing else outside strings starts with '-' or a digit.
class NumberTokenScanner {
public:
    explicit NumberTokenScanner(const char* text) : m_next(text) {}

    std::string Next() {
        const char* at = m_next;
        while (*at != '\0') {
            if (*at == '"') {
                at = PastString(at + 1);
            } else if (*at == '-' || (*at >= '0' && *at <= '9')) {
                const char* start = at;
                while (*at != '\0' && std::strchr("0123456789+-eE.", *at) != nullptr) ++at;
                m_next = at;
                return std::string(start, at);
            } else {
                ++at;
            }
        }
        m_next = at;
        return std::string();
    }

private:
    static const char* PastString(const char* at) {
        while (*at != '\0' && *at != '"') at += (at[0] == '\\' && at[1] != '\0') ? 2 : 1;
        return *at == '"' ? at + 1 : at;
    }

    const char* m_next;
};

// Walks siblings and children in document order, the order cJSON read the numbers in.
void RestoreIntegers(cJSON* node, NumberTokenScanner& tokens) {
    for (; node != nullptr; node = node->next) {
        if (cJSON_IsNumber(node)) {
            std::string digits;
            IntegerSign sign = kSigned;
            if (ReadIntegerToken(tokens.Next(), digits, sign)) MakeInteger(node, digits, sign);
        } else if (node->child != nullptr) {
            RestoreIntegers(node->child, tokens);
        }
    }
}

// ---- reading values ----

bool ReadInto(const cJSON* node, std::string& out) {
    if (!cJSON_IsString(node)) return false;
    out = node->valuestring;
    return true;
}

bool ReadInto(const cJSON* node, char* out) {
    if (out == nullptr || !cJSON_IsString(node)) return false;
    std::memcpy(out, node->valuestring, std::strlen(node->valuestring) + 1);
    return true;
}

bool ReadInto(const cJSON* node, bool& out) {
    if (!cJSON_IsBool(node)) return false;
    out = cJSON_IsTrue(node) != 0;
    return true;
}

// Integers convert as C++ converts a 64-bit integer. Doubles are truncated toward zero for
// integer outputs and refused when the result does not fit (that conversion would be undefined).
template <typename T>
bool ReadNumber(const cJSON* node, T& out) {
    if (IsInteger(node)) {
        out = IntegerAs<T>(node);
        return true;
    }
    if (!cJSON_IsNumber(node)) return false;
    if constexpr (std::is_integral<T>::value) {
        const double truncated = std::trunc(node->valuedouble);
        const double lowest = static_cast<double>(std::numeric_limits<T>::min());
        const double past_highest = std::ldexp(1.0, std::numeric_limits<T>::digits);
        if (!(truncated >= lowest && truncated < past_highest)) return false;
        out = static_cast<T>(truncated);
    } else {
        out = static_cast<T>(node->valuedouble);
    }
    return true;
}

bool ReadInto(const cJSON* node, int32_t& out) { return ReadNumber(node, out); }
bool ReadInto(const cJSON* node, uint32_t& out) { return ReadNumber(node, out); }
bool ReadInto(const cJSON* node, int64_t& out) { return ReadNumber(node, out); }
bool ReadInto(const cJSON* node, uint64_t& out) { return ReadNumber(node, out); }
bool ReadInto(const cJSON* node, float& out) { return ReadNumber(node, out); }
bool ReadInto(const cJSON* node, double& out) { return ReadNumber(node, out); }

// A value as text: strings and integers as they are, doubles in "%e" form outside
// [1e-6, 1e9] of magnitude and "%f" form inside, booleans as words, anything else empty.
std::string ValueText(const cJSON* node) {
    if (node == nullptr) return std::string();
    if (cJSON_IsString(node) || IsInteger(node)) return node->valuestring;
    if (cJSON_IsTrue(node)) return "true";
    if (cJSON_IsFalse(node)) return "false";
    if (!cJSON_IsNumber(node)) return std::string();
    const double magnitude = std::fabs(node->valuedouble);
    char text[64];
    std::snprintf(text, sizeof text, (magnitude < 1.0e-6 || magnitude > 1.0e9) ? "%e" : "%f",
                  node->valuedouble);
    return text;
}

// The node when it is of the wanted kind; otherwise null, with the error text set.
cJSON* ValueOfKind(cJSON* node, int kind, const char* wrong_kind_error, std::string& error) {
    if (node == nullptr) {
        error = kNoValue;
        return nullptr;
    }
    if ((node->type & 0xFF) != kind) {
        error = wrong_kind_error;
        return nullptr;
    }
    return node;
}

// ---- making values ----

cJSON* Item(const std::string& value) { return cJSON_CreateString(value.c_str()); }
cJSON* Item(const char* value) { return value != nullptr ? cJSON_CreateString(value) : nullptr; }
cJSON* Item(int32_t value) { return CreateInteger(std::to_string(value), kSigned); }
cJSON* Item(uint32_t value) { return CreateInteger(std::to_string(value), kUnsigned); }
cJSON* Item(int64_t value) { return CreateInteger(std::to_string(value), kSigned); }
cJSON* Item(uint64_t value) { return CreateInteger(std::to_string(value), kUnsigned); }
cJSON* Item(bool value) { return cJSON_CreateBool(value ? 1 : 0); }
cJSON* Item(float value) { return cJSON_CreateNumber(static_cast<double>(value)); }
cJSON* Item(double value) { return cJSON_CreateNumber(value); }

// A deep copy that belongs to no object: the member name of the original is not carried over.
cJSON* DetachedCopy(const cJSON* node) {
    cJSON* copy = cJSON_Duplicate(node, 1);
    if (copy != nullptr && copy->string != nullptr) {
        if ((copy->type & cJSON_StringIsConst) == 0) cJSON_free(copy->string);
        copy->string = nullptr;
        copy->type &= ~cJSON_StringIsConst;
    }
    return copy;
}

std::string PrintAndFree(char* text) {
    if (text == nullptr) return std::string();
    std::string result(text);
    cJSON_free(text);
    return result;
}

}  // namespace

// ---- life cycle ----

CJsonObject::CJsonObject() = default;

CJsonObject::CJsonObject(const std::string& text) { Parse(text); }

CJsonObject::CJsonObject(const CJsonObject* other)
    : m_owned_root(other != nullptr ? CopyOf(*other) : nullptr) {}

CJsonObject::CJsonObject(const CJsonObject& other) : m_owned_root(CopyOf(other)) {}

CJsonObject::CJsonObject(cJSON* view) : m_referenced_root(view) {}

CJsonObject::~CJsonObject() { Clear(); }

CJsonObject& CJsonObject::operator=(const CJsonObject& other) {
    if (this == &other) return *this;
    cJSON* copy = CopyOf(other);  // before Clear: other may be one of our children
    Clear();
    m_owned_root = copy;
    return *this;
}

bool CJsonObject::operator==(const CJsonObject& other) const {
    return ToString() == other.ToString();
}

bool CJsonObject::Parse(const std::string& text) {
    Clear();
    const char* parse_end = nullptr;
    cJSON* root = cJSON_ParseWithOpts(text.c_str(), &parse_end, 0);
    if (root == nullptr) {
        m_error = std::string(kParseError) + (parse_end != nullptr ? parse_end : text.c_str());
        return false;
    }
    NumberTokenScanner tokens(text.c_str());
    RestoreIntegers(root, tokens);
    m_owned_root = root;
    return true;
}

void CJsonObject::Clear() {
    DropAllChildren();
    if (m_owned_root != nullptr) cJSON_Delete(m_owned_root);
    m_owned_root = nullptr;
    m_referenced_root = nullptr;
    m_traversal_cursor = nullptr;
}

bool CJsonObject::IsEmpty() const { return value() == nullptr; }

bool CJsonObject::IsArray() const { return cJSON_IsArray(value()) != 0; }

std::string CJsonObject::ToString() const {
    return value() != nullptr ? PrintAndFree(cJSON_PrintUnformatted(value())) : std::string();
}

std::string CJsonObject::ToFormattedString() const {
    return value() != nullptr ? PrintAndFree(cJSON_Print(value())) : std::string();
}

// ---- private helpers ----

cJSON* CJsonObject::value() const {
    return m_owned_root != nullptr ? m_owned_root : m_referenced_root;
}

cJSON* CJsonObject::CopyOf(const CJsonObject& other) {
    return other.value() != nullptr ? DetachedCopy(other.value()) : nullptr;
}

bool CJsonObject::CopyNodeInto(const cJSON* node, CJsonObject& out) {
    if (node == nullptr) return false;
    cJSON* copy = DetachedCopy(node);
    if (copy == nullptr) return false;
    out.Clear();
    out.m_owned_root = copy;
    return true;
}

cJSON* CJsonObject::ObjectValue() const {
    return ValueOfKind(value(), cJSON_Object, kNotObject, m_error);
}

cJSON* CJsonObject::ArrayValue() const {
    return ValueOfKind(value(), cJSON_Array, kNotArray, m_error);
}

cJSON* CJsonObject::Member(const std::string& key) const {
    cJSON* object = ObjectValue();
    return object != nullptr ? cJSON_GetObjectItemCaseSensitive(object, key.c_str()) : nullptr;
}

cJSON* CJsonObject::Element(int index) const {
    cJSON* array = ArrayValue();
    return (array != nullptr && index >= 0) ? cJSON_GetArrayItem(array, index) : nullptr;
}

bool CJsonObject::AddMember(const std::string& key, cJSON* item) {
    if (item == nullptr) {
        m_error = kNoValue;
        return false;
    }
    if (value() == nullptr) m_owned_root = cJSON_CreateObject();
    cJSON* object = ObjectValue();
    bool added = false;
    if (object != nullptr && cJSON_GetObjectItemCaseSensitive(object, key.c_str()) != nullptr) {
        m_error = kKeyExists;
    } else if (object != nullptr) {
        added = cJSON_AddItemToObject(object, key.c_str(), item) != 0;
    }
    if (!added) {
        cJSON_Delete(item);
        return false;
    }
    return cJSON_GetObjectItemCaseSensitive(object, key.c_str()) != nullptr;
}

bool CJsonObject::ReplaceMember(const std::string& key, cJSON* item) {
    if (item == nullptr) {
        m_error = kNoValue;
        return false;
    }
    cJSON* object = ObjectValue();
    cJSON* old = object != nullptr ? cJSON_GetObjectItemCaseSensitive(object, key.c_str())
                                   : nullptr;
    if (old == nullptr || !cJSON_ReplaceItemInObjectCaseSensitive(object, key.c_str(), item)) {
        cJSON_Delete(item);
        return false;
    }
    if (m_traversal_cursor == old) m_traversal_cursor = item;
    DropChild(key);
    return true;
}

bool CJsonObject::InsertElement(cJSON* item, bool at_front) {
    if (item == nullptr) {
        m_error = kNoValue;
        return false;
    }
    if (value() == nullptr) m_owned_root = cJSON_CreateArray();
    cJSON* array = ArrayValue();
    const bool inserted = array != nullptr && (at_front ? cJSON_InsertItemInArray(array, 0, item)
                                                        : cJSON_AddItemToArray(array, item)) != 0;
    if (!inserted) {
        cJSON_Delete(item);
        return false;
    }
    if (at_front) DropChildrenFrom(0);  // every index moved
    return true;
}

bool CJsonObject::ReplaceElement(int index, cJSON* item) {
    if (item == nullptr) {
        m_error = kNoValue;
        return false;
    }
    cJSON* array = ArrayValue();
    if (Element(index) == nullptr || !cJSON_ReplaceItemInArray(array, index, item)) {
        cJSON_Delete(item);
        return false;
    }
    auto child = m_children_by_index.find(static_cast<unsigned int>(index));
    if (child != m_children_by_index.end()) {
        delete child->second;
        m_children_by_index.erase(child);
    }
    return true;
}

void CJsonObject::DropChild(const std::string& key) {
    auto child = m_children_by_key.find(key);
    if (child == m_children_by_key.end()) return;
    delete child->second;
    m_children_by_key.erase(child);
}

void CJsonObject::DropChildrenFrom(unsigned int index) {
    auto first = m_children_by_index.lower_bound(index);
    for (auto child = first; child != m_children_by_index.end(); ++child) delete child->second;
    m_children_by_index.erase(first, m_children_by_index.end());
}

void CJsonObject::DropAllChildren() {
    DropChildrenFrom(0);
    for (auto& child : m_children_by_key) delete child.second;
    m_children_by_key.clear();
}

// ---- by key ----

bool CJsonObject::AddEmptySubObject(const std::string& key) {
    cJSON* item = cJSON_CreateObject();
    if (item == nullptr) m_error = kCreateSubObjectError;
    return item != nullptr && AddMember(key, item);
}

bool CJsonObject::AddEmptySubArray(const std::string& key) {
    cJSON* item = cJSON_CreateArray();
    if (item == nullptr) m_error = kCreateSubArrayError;
    return item != nullptr && AddMember(key, item);
}

bool CJsonObject::GetKey(std::string& key) {
    cJSON* object = ObjectValue();
    if (object == nullptr) return false;
    cJSON* next = m_traversal_cursor != nullptr ? m_traversal_cursor->next : object->child;
    m_traversal_cursor = next;  // null after the last member: the next call starts again
    if (next == nullptr) return false;
    key = next->string != nullptr ? next->string : "";
    return true;
}

void CJsonObject::ResetTraversing() { m_traversal_cursor = nullptr; }

CJsonObject& CJsonObject::operator[](const std::string& key) {
    cJSON* member = cJSON_IsObject(value()) ? cJSON_GetObjectItemCaseSensitive(value(), key.c_str())
                                            : nullptr;
    auto child = m_children_by_key.find(key);
    if (child == m_children_by_key.end()) {
        child = m_children_by_key.emplace(key, new CJsonObject(member)).first;
    } else if (child->second->IsEmpty()) {
        child->second->m_referenced_root = member;  // the member may have been added since
    }
    return *child->second;
}

std::string CJsonObject::operator()(const std::string& key) const { return ValueText(Member(key)); }

bool CJsonObject::Get(const std::string& key, CJsonObject& value) const {
    return CopyNodeInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, std::string& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, char* value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, int32_t& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, uint32_t& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, int64_t& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, uint64_t& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, bool& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, float& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::Get(const std::string& key, double& value) const {
    return ReadInto(Member(key), value);
}
bool CJsonObject::IsNull(const std::string& key) const { return cJSON_IsNull(Member(key)) != 0; }

bool CJsonObject::Add(const std::string& key, const CJsonObject& value) {
    return AddMember(key, CopyOf(value));
}
bool CJsonObject::Add(const std::string& key, const std::string& value) {
    return AddMember(key, Item(value));
}
bool CJsonObject::Add(const std::string& key, const char* value) {
    return AddMember(key, Item(value));
}
bool CJsonObject::Add(const std::string& key, int32_t value) { return AddMember(key, Item(value)); }
bool CJsonObject::Add(const std::string& key, uint32_t value) {
    return AddMember(key, Item(value));
}
bool CJsonObject::Add(const std::string& key, int64_t value) { return AddMember(key, Item(value)); }
bool CJsonObject::Add(const std::string& key, uint64_t value) {
    return AddMember(key, Item(value));
}
bool CJsonObject::Add(const std::string& key, bool value, bool) {
    return AddMember(key, Item(value));
}
bool CJsonObject::Add(const std::string& key, float value) { return AddMember(key, Item(value)); }
bool CJsonObject::Add(const std::string& key, double value) { return AddMember(key, Item(value)); }
bool CJsonObject::AddNull(const std::string& key) { return AddMember(key, cJSON_CreateNull()); }

bool CJsonObject::Delete(const std::string& key) {
    cJSON* object = ObjectValue();
    if (object == nullptr) return false;
    cJSON* member = cJSON_GetObjectItemCaseSensitive(object, key.c_str());
    if (member != nullptr && member == m_traversal_cursor) {
        // Keep traversal on course: the next GetKey yields the member after the deleted one.
        m_traversal_cursor = member == object->child ? nullptr : member->prev;
    }
    if (member != nullptr) cJSON_Delete(cJSON_DetachItemViaPointer(object, member));
    DropChild(key);
    return true;
}

bool CJsonObject::Replace(const std::string& key, const CJsonObject& value) {
    return ReplaceMember(key, CopyOf(value));
}
bool CJsonObject::Replace(const std::string& key, const std::string& value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, const char* value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, int32_t value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, uint32_t value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, int64_t value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, uint64_t value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, bool value, bool) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, float value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::Replace(const std::string& key, double value) {
    return ReplaceMember(key, Item(value));
}
bool CJsonObject::ReplaceWithNull(const std::string& key) {
    return ReplaceMember(key, cJSON_CreateNull());
}

// ---- by index ----

int CJsonObject::GetArraySize() const { return IsArray() ? cJSON_GetArraySize(value()) : 0; }

CJsonObject& CJsonObject::operator[](unsigned int index) {
    const bool in_range = IsArray() && index <= static_cast<unsigned int>(INT_MAX);
    cJSON* element = in_range ? cJSON_GetArrayItem(value(), static_cast<int>(index)) : nullptr;
    auto child = m_children_by_index.find(index);
    if (child == m_children_by_index.end()) {
        child = m_children_by_index.emplace(index, new CJsonObject(element)).first;
    } else if (child->second->IsEmpty()) {
        child->second->m_referenced_root = element;  // the element may have been added since
    }
    return *child->second;
}

std::string CJsonObject::operator()(unsigned int index) const {
    return index <= static_cast<unsigned int>(INT_MAX) ? ValueText(Element(static_cast<int>(index)))
                                                       : std::string();
}

bool CJsonObject::Get(int index, CJsonObject& value) const {
    return CopyNodeInto(Element(index), value);
}
bool CJsonObject::Get(int index, std::string& value) const {
    return ReadInto(Element(index), value);
}
bool CJsonObject::Get(int index, char* value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, int32_t& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, uint32_t& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, int64_t& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, uint64_t& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, bool& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, float& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::Get(int index, double& value) const { return ReadInto(Element(index), value); }
bool CJsonObject::IsNull(int index) const { return cJSON_IsNull(Element(index)) != 0; }

bool CJsonObject::Add(const CJsonObject& value) { return InsertElement(CopyOf(value), false); }
bool CJsonObject::Add(const std::string& value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(const char* value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(int32_t value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(uint32_t value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(int64_t value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(uint64_t value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(int, bool value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(float value) { return InsertElement(Item(value), false); }
bool CJsonObject::Add(double value) { return InsertElement(Item(value), false); }
bool CJsonObject::AddNull() { return InsertElement(cJSON_CreateNull(), false); }

bool CJsonObject::AddAsFirst(const CJsonObject& value) {
    return InsertElement(CopyOf(value), true);
}
bool CJsonObject::AddAsFirst(const std::string& value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(const char* value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(int32_t value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(uint32_t value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(int64_t value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(uint64_t value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(int, bool value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(float value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddAsFirst(double value) { return InsertElement(Item(value), true); }
bool CJsonObject::AddNullAsFirst() { return InsertElement(cJSON_CreateNull(), true); }

bool CJsonObject::Delete(int index) {
    cJSON* array = ArrayValue();
    if (array == nullptr) return false;
    if (index < 0) return true;  // no such element: nothing to remove
    cJSON_DeleteItemFromArray(array, index);
    DropChildrenFrom(static_cast<unsigned int>(index));  // later elements moved down
    return true;
}

bool CJsonObject::Replace(int index, const CJsonObject& value) {
    return ReplaceElement(index, CopyOf(value));
}
bool CJsonObject::Replace(int index, const std::string& value) {
    return ReplaceElement(index, Item(value));
}
bool CJsonObject::Replace(int index, const char* value) {
    return ReplaceElement(index, Item(value));
}
bool CJsonObject::Replace(int index, int32_t value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::Replace(int index, uint32_t value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::Replace(int index, int64_t value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::Replace(int index, uint64_t value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::Replace(int index, bool value, bool) {
    return ReplaceElement(index, Item(value));
}
bool CJsonObject::Replace(int index, float value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::Replace(int index, double value) { return ReplaceElement(index, Item(value)); }
bool CJsonObject::ReplaceWithNull(int index) { return ReplaceElement(index, cJSON_CreateNull()); }
