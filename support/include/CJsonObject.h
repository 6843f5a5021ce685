// A JSON value over a cJSON tree: parse, read by key or index with typed getters, build with typed
// adders, print. Integers are kept as exact 64-bit values with a signedness mark (cJSON itself
// keeps numbers as doubles, which would lose integers above 2^53).
//
// Failures never throw: an operation returns false (or empty text), leaves its output argument
// unchanged and stores a text that GetErrMsg() returns.
// Thread-safety: none; an object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct cJSON;

class CJsonObject {
public:
    CJsonObject();
    explicit CJsonObject(const std::string& text);
    CJsonObject(const CJsonObject* other);  // null gives an empty object
    CJsonObject(const CJsonObject& other);
    virtual ~CJsonObject();

    CJsonObject& operator=(const CJsonObject& other);
    bool operator==(const CJsonObject& other) const;

    bool Parse(const std::string& text);
    void Clear();
    bool IsEmpty() const;
    bool IsArray() const;
    std::string ToString() const;
    std::string ToFormattedString() const;
    const std::string& GetErrMsg() const { return m_error; }

    // ---- by key (the value is an object) ----
    bool AddEmptySubObject(const std::string& key);
    bool AddEmptySubArray(const std::string& key);
    bool GetKey(std::string& key);
    void ResetTraversing();
    CJsonObject& operator[](const std::string& key);
    std::string operator()(const std::string& key) const;

    bool Get(const std::string& key, CJsonObject& value) const;
    bool Get(const std::string& key, std::string& value) const;
    bool Get(const std::string& key, char* value) const;  // caller provides room
    bool Get(const std::string& key, int32_t& value) const;
    bool Get(const std::string& key, uint32_t& value) const;
    bool Get(const std::string& key, int64_t& value) const;
    bool Get(const std::string& key, uint64_t& value) const;
    bool Get(const std::string& key, bool& value) const;
    bool Get(const std::string& key, float& value) const;
    bool Get(const std::string& key, double& value) const;
    bool IsNull(const std::string& key) const;

    bool Add(const std::string& key, const CJsonObject& value);
    bool Add(const std::string& key, const std::string& value);
    bool Add(const std::string& key, const char* value);
    bool Add(const std::string& key, int32_t value);
    bool Add(const std::string& key, uint32_t value);
    bool Add(const std::string& key, int64_t value);
    bool Add(const std::string& key, uint64_t value);
    bool Add(const std::string& key, bool value, bool value_again);
    bool Add(const std::string& key, float value);
    bool Add(const std::string& key, double value);
    bool AddNull(const std::string& key);

    bool Delete(const std::string& key);

    bool Replace(const std::string& key, const CJsonObject& value);
    bool Replace(const std::string& key, const std::string& value);
    bool Replace(const std::string& key, const char* value);
    bool Replace(const std::string& key, int32_t value);
    bool Replace(const std::string& key, uint32_t value);
    bool Replace(const std::string& key, int64_t value);
    bool Replace(const std::string& key, uint64_t value);
    bool Replace(const std::string& key, bool value, bool value_again);
    bool Replace(const std::string& key, float value);
    bool Replace(const std::string& key, double value);
    bool ReplaceWithNull(const std::string& key);

    // ---- by index (the value is an array) ----
    int GetArraySize() const;
    CJsonObject& operator[](unsigned int index);
    std::string operator()(unsigned int index) const;

    bool Get(int index, CJsonObject& value) const;
    bool Get(int index, std::string& value) const;
    bool Get(int index, char* value) const;
    bool Get(int index, int32_t& value) const;
    bool Get(int index, uint32_t& value) const;
    bool Get(int index, int64_t& value) const;
    bool Get(int index, uint64_t& value) const;
    bool Get(int index, bool& value) const;
    bool Get(int index, float& value) const;
    bool Get(int index, double& value) const;
    bool IsNull(int index) const;

    bool Add(const CJsonObject& value);
    bool Add(const std::string& value);
    bool Add(const char* value);
    bool Add(int32_t value);
    bool Add(uint32_t value);
    bool Add(int64_t value);
    bool Add(uint64_t value);
    bool Add(int selector, bool value);
    bool Add(float value);
    bool Add(double value);
    bool AddNull();

    bool AddAsFirst(const CJsonObject& value);
    bool AddAsFirst(const std::string& value);
    bool AddAsFirst(const char* value);
    bool AddAsFirst(int32_t value);
    bool AddAsFirst(uint32_t value);
    bool AddAsFirst(int64_t value);
    bool AddAsFirst(uint64_t value);
    bool AddAsFirst(int selector, bool value);
    bool AddAsFirst(float value);
    bool AddAsFirst(double value);
    bool AddNullAsFirst();

    bool Delete(int index);

    bool Replace(int index, const CJsonObject& value);
    bool Replace(int index, const std::string& value);
    bool Replace(int index, const char* value);
    bool Replace(int index, int32_t value);
    bool Replace(int index, uint32_t value);
    bool Replace(int index, int64_t value);
    bool Replace(int index, uint64_t value);
    bool Replace(int index, bool value, bool value_again);
    bool Replace(int index, float value);
    bool Replace(int index, double value);
    bool ReplaceWithNull(int index);

private:
    explicit CJsonObject(cJSON* view);  // a child wrapper viewing a node of another tree
    cJSON* value() const;
    static cJSON* CopyOf(const CJsonObject& other);  // detached deep copy, null when empty
    static bool CopyNodeInto(const cJSON* node, CJsonObject& out);

    // Lookups that set the error text when the value is missing or of the wrong kind.
    cJSON* ObjectValue() const;
    cJSON* ArrayValue() const;
    cJSON* Member(const std::string& key) const;
    cJSON* Element(int index) const;

    // Writers: each takes ownership of item (null means creating it failed).
    bool AddMember(const std::string& key, cJSON* item);
    bool ReplaceMember(const std::string& key, cJSON* item);
    bool InsertElement(cJSON* item, bool at_front);
    bool ReplaceElement(int index, cJSON* item);

    void DropChild(const std::string& key);
    void DropChildrenFrom(unsigned int index);
    void DropAllChildren();

    cJSON* m_owned_root = nullptr;
    cJSON* m_referenced_root = nullptr;
    cJSON* m_traversal_cursor = nullptr;  // member last yielded by GetKey; null: start at the first
    mutable std::string m_error;
    std::map<unsigned int, CJsonObject*> m_children_by_index;
    std::map<std::string, CJsonObject*> m_children_by_key;
};
