#include "Common/Variable.h"

#include "Common/Assert.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace Vexel
{

namespace
{

// Truncates toward zero into T, saturating at its limits; NaN gives 0. A plain cast of an
// out-of-range floating value is undefined behaviour, and scripts hand us any double.
template <typename T> T SaturateCast(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double low = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double high = static_cast<double>(std::numeric_limits<T>::max());
    if (value <= low)
        return std::numeric_limits<T>::min();
    if (value >= high)
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

float ToFloat(double value)
{
    if (value > std::numeric_limits<float>::max())
        return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max())
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

_qword FloatBits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

_qword DoubleBits(double value)
{
    _qword bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

bool IsSignedSlot(_dword type)
{
    return type == _VAR_BOOL || type == _VAR_WCHAR || (type >= _VAR_INT8 && type <= _VAR_INT64) ||
           type == _VAR_SCRIPTREF;
}

bool IsUnsignedSlot(_dword type)
{
    return type >= _VAR_UINT8 && type <= _VAR_UINT64;
}

bool IsFloating(_dword type)
{
    return type == _VAR_FLOAT || type == _VAR_DOUBLE;
}

String ElementName(std::size_t index)
{
    std::string digits = "[" + std::to_string(index) + "]";
    return String(digits.begin(), digits.end());
}

Variable* FindChildIn(const std::vector<std::unique_ptr<Variable>>& children, std::u16string_view name)
{
    for (const auto& child : children)
        if (child->GetName() == name)
            return child.get();
    return nullptr;
}

} // namespace

Variable& Variable::Invalid()
{
    static Variable invalid;
    return invalid;
}

bool Variable::Writable() const
{
    return VEXEL_ASSERT_TEXT(this != &Invalid(), u"the shared invalid Variable is never written");
}

Variable::Variable(std::u16string_view name, _dword type) : mName(name), mType(type)
{
    MakeShape();
}

Variable::~Variable()
{
    ReleaseAll();
}

Variable::Variable(const Variable& other)
{
    CopyFrom(other);
}

Variable& Variable::operator=(const Variable& other)
{
    CopyFrom(other);
    return *this;
}

Variable::Variable(Variable&& other) noexcept
{
    if (other.IsValid())
        TakeFrom(other);
    else
        CopyFrom(other);
}

Variable& Variable::operator=(Variable&& other) noexcept
{
    if (this == &other || !Writable())
        return *this;
    if (!other.IsValid())
    {
        CopyFrom(other);
        return *this;
    }
    // other may live inside this subtree: lift it out before the subtree goes.
    Variable lifted;
    lifted.TakeFrom(other);
    ReleaseAll();
    TakeFrom(lifted);
    return *this;
}

void Variable::MakeShape()
{
    if (IsArray())
        mCount = std::make_unique<Variable>(_VAR_COUNT_NAME, _VAR_UINT32);
    if (IsArray() && IsStructure())
        mTemplate = std::make_unique<Variable>(u"", _VAR_STRUCT);
}

void Variable::ReleaseAll() noexcept
{
    if (ReleaseHandler handler = mReleaseHandler)
    {
        mReleaseHandler = nullptr;
        handler(this, 1);
    }
    mType = _VAR_EMPTY;
    mValue = 0;
    String().swap(mText);
    std::vector<_byte>().swap(mBinary);
    mKeyNumber = 0;
    mKeyFlag = 0;

    // Depth first without recursion, so a deep tree cannot exhaust the stack: each node's handler runs
    // before its own members go.
    std::vector<std::unique_ptr<Variable>> pending;
    auto detach = [&pending](Variable& node)
    {
        for (auto it = node.mChildren.rbegin(); it != node.mChildren.rend(); ++it)
            pending.push_back(std::move(*it));
        node.mChildren.clear();
        if (node.mTemplate)
            pending.push_back(std::move(node.mTemplate));
        if (node.mCount)
            pending.push_back(std::move(node.mCount));
    };
    detach(*this);
    while (!pending.empty())
    {
        std::unique_ptr<Variable> node = std::move(pending.back());
        pending.pop_back();
        if (ReleaseHandler handler = node->mReleaseHandler)
        {
            node->mReleaseHandler = nullptr;
            handler(node.get(), 1);
        }
        detach(*node);
    }
}

void Variable::TakeFrom(Variable& other) noexcept
{
    mName = std::move(other.mName);
    mType = std::exchange(other.mType, _VAR_EMPTY);
    mValue = std::exchange(other.mValue, 0);
    mText = std::move(other.mText);
    mBinary = std::move(other.mBinary);
    mKeyNumber = std::exchange(other.mKeyNumber, 0.0);
    mKeyFlag = std::exchange(other.mKeyFlag, _byte(0));
    mTemplate = std::move(other.mTemplate);
    mCount = std::move(other.mCount);
    mChildren = std::move(other.mChildren);
    mReleaseHandler = std::exchange(other.mReleaseHandler, nullptr);
    other.mName.clear();
    other.mText.clear();
    other.mBinary.clear();
    other.mChildren.clear();
}

void Variable::CopyNodeFields(const Variable& other)
{
    mName = other.mName;
    mType = other.mType;
    mValue = other.mValue;
    mText = other.mText;
    mBinary = other.mBinary;
    mKeyNumber = other.mKeyNumber;
    mKeyFlag = other.mKeyFlag;
    mReleaseHandler = other.mReleaseHandler;
}

bool Variable::CopyFrom(const Variable& other)
{
    if (!Writable())
        return false;
    if (&other == this)
        return true;

    // Build the copy apart first: other may be part of this subtree, which clearing destroys.
    Variable copy;
    copy.CopyNodeFields(other);
    std::vector<std::pair<const Variable*, Variable*>> pending{{&other, &copy}};
    auto clone = [&pending](const Variable& source)
    {
        auto node = std::make_unique<Variable>();
        node->CopyNodeFields(source);
        if (node->mReleaseHandler)
            node->mReleaseHandler(node.get(), 0);
        pending.emplace_back(&source, node.get());
        return node;
    };
    while (!pending.empty())
    {
        auto [source, target] = pending.back();
        pending.pop_back();
        if (source->mCount)
            target->mCount = clone(*source->mCount);
        if (source->mTemplate)
            target->mTemplate = clone(*source->mTemplate);
        target->mChildren.reserve(source->mChildren.size());
        for (const auto& child : source->mChildren)
            target->mChildren.push_back(clone(*child));
    }

    ReleaseAll();
    TakeFrom(copy);
    if (mReleaseHandler)
        mReleaseHandler(this, 0);
    return true;
}

void Variable::SetType(_dword type)
{
    if (!Writable())
        return;
    ReleaseAll();
    mType = type;
    MakeShape();
}

void Variable::Clear()
{
    if (Writable())
        ReleaseAll();
}

void Variable::SetName(std::u16string_view name)
{
    if (Writable())
        mName.assign(name);
}

void Variable::SetKeyNumber(double number, _byte flag)
{
    if (!Writable())
        return;
    mKeyNumber = number;
    mKeyFlag = flag;
}

void Variable::SetReleaseHandler(ReleaseHandler handler)
{
    if (Writable())
        mReleaseHandler = handler;
}

// --- Values -------------------------------------------------------------------------------------------

void Variable::StoreSigned(std::int64_t value)
{
    switch (mType)
    {
    case _VAR_BOOL:
        mValue = value != 0 ? 1 : 0;
        break;
    case _VAR_WCHAR:
        mValue = static_cast<std::uint16_t>(value);
        break;
    case _VAR_INT8:
        mValue = static_cast<_qword>(static_cast<std::int64_t>(static_cast<std::int8_t>(value)));
        break;
    case _VAR_INT16:
        mValue = static_cast<_qword>(static_cast<std::int64_t>(static_cast<std::int16_t>(value)));
        break;
    case _VAR_INT32:
        mValue = static_cast<_qword>(static_cast<std::int64_t>(static_cast<std::int32_t>(value)));
        break;
    case _VAR_INT64:
    case _VAR_UINT64:
        mValue = static_cast<_qword>(value);
        break;
    case _VAR_UINT8:
        mValue = static_cast<std::uint8_t>(value);
        break;
    case _VAR_UINT16:
        mValue = static_cast<std::uint16_t>(value);
        break;
    case _VAR_UINT32:
        mValue = static_cast<std::uint32_t>(value);
        break;
    case _VAR_FLOAT:
        mValue = FloatBits(static_cast<float>(value));
        break;
    case _VAR_DOUBLE:
        mValue = DoubleBits(static_cast<double>(value));
        break;
    }
}

void Variable::StoreUnsigned(std::uint64_t value)
{
    switch (mType)
    {
    case _VAR_FLOAT:
        mValue = FloatBits(static_cast<float>(value));
        break;
    case _VAR_DOUBLE:
        mValue = DoubleBits(static_cast<double>(value));
        break;
    default:
        // Same bits as a signed value; the narrowing below gives what a C cast would.
        StoreSigned(static_cast<std::int64_t>(value));
        break;
    }
}

void Variable::StoreFloating(double value)
{
    switch (mType)
    {
    case _VAR_BOOL:
        mValue = value != 0 ? 1 : 0;
        break;
    case _VAR_WCHAR:
        mValue = SaturateCast<std::uint16_t>(value);
        break;
    case _VAR_INT8:
        StoreSigned(SaturateCast<std::int8_t>(value));
        break;
    case _VAR_INT16:
        StoreSigned(SaturateCast<std::int16_t>(value));
        break;
    case _VAR_INT32:
        StoreSigned(SaturateCast<std::int32_t>(value));
        break;
    case _VAR_INT64:
        StoreSigned(SaturateCast<std::int64_t>(value));
        break;
    case _VAR_UINT8:
        mValue = SaturateCast<std::uint8_t>(value);
        break;
    case _VAR_UINT16:
        mValue = SaturateCast<std::uint16_t>(value);
        break;
    case _VAR_UINT32:
        mValue = SaturateCast<std::uint32_t>(value);
        break;
    case _VAR_UINT64:
        mValue = SaturateCast<std::uint64_t>(value);
        break;
    case _VAR_FLOAT:
        mValue = FloatBits(ToFloat(value));
        break;
    case _VAR_DOUBLE:
        mValue = DoubleBits(value);
        break;
    }
}

bool Variable::SetBool(bool value)
{
    return SetInt64(value ? 1 : 0);
}

bool Variable::SetChar(char16_t value)
{
    return SetUInt64(value);
}

bool Variable::SetInt8(std::int8_t value)
{
    return SetInt64(value);
}

bool Variable::SetInt16(std::int16_t value)
{
    return SetInt64(value);
}

bool Variable::SetInt32(std::int32_t value)
{
    return SetInt64(value);
}

bool Variable::SetInt64(std::int64_t value)
{
    if (!Writable() || !IsNumericType())
        return false;
    StoreSigned(value);
    return true;
}

bool Variable::SetUInt8(std::uint8_t value)
{
    return SetUInt64(value);
}

bool Variable::SetUInt16(std::uint16_t value)
{
    return SetUInt64(value);
}

bool Variable::SetUInt32(std::uint32_t value)
{
    return SetUInt64(value);
}

bool Variable::SetUInt64(std::uint64_t value)
{
    if (!Writable() || !IsNumericType())
        return false;
    StoreUnsigned(value);
    return true;
}

bool Variable::SetFloat(float value)
{
    return SetDouble(value);
}

bool Variable::SetDouble(double value)
{
    if (!Writable() || !IsNumericType())
        return false;
    StoreFloating(value);
    return true;
}

bool Variable::SetPointer(void* pointer)
{
    if (!Writable() || mType != _VAR_POINTER)
        return false;
    mValue = reinterpret_cast<std::uintptr_t>(pointer);
    return true;
}

bool Variable::SetScriptRef(int reference)
{
    if (!Writable() || mType != _VAR_SCRIPTREF)
        return false;
    mValue = static_cast<_qword>(static_cast<std::int64_t>(reference));
    return true;
}

bool Variable::SetText(std::u16string_view text)
{
    if (!Writable() || mType != _VAR_TEXT)
        return false;
    if (text.empty())
        String().swap(mText);
    else
        mText.assign(text.data(), text.size()); // copes with text taken from mText itself
    return true;
}

bool Variable::SetBinary(const void* data, std::size_t size)
{
    if (!Writable() || mType != _VAR_BINARY)
        return false;
    if (size != 0 && !VEXEL_ASSERT(data != nullptr))
        return false;
    const _byte* bytes = static_cast<const _byte*>(data);
    // Through a fresh block: data may point into the current one.
    std::vector<_byte> block(bytes, bytes + size);
    mBinary.swap(block);
    return true;
}

double Variable::GetDouble() const
{
    if (mType == _VAR_FLOAT)
    {
        float value;
        std::uint32_t bits = static_cast<std::uint32_t>(mValue);
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    }
    if (mType == _VAR_DOUBLE)
    {
        double value;
        std::memcpy(&value, &mValue, sizeof(value));
        return value;
    }
    if (IsSignedSlot(mType))
        return static_cast<double>(static_cast<std::int64_t>(mValue));
    if (IsUnsignedSlot(mType))
        return static_cast<double>(mValue);
    return 0;
}

std::int64_t Variable::GetInt64() const
{
    if (IsFloating(mType))
        return SaturateCast<std::int64_t>(GetDouble());
    if (IsSignedSlot(mType) || IsUnsignedSlot(mType))
        return static_cast<std::int64_t>(mValue);
    return 0;
}

std::uint64_t Variable::GetUInt64() const
{
    if (IsFloating(mType))
    {
        // Negative values wrap as their 64-bit signed form would, so -1 stays "all bits set".
        double value = GetDouble();
        return value < 0 ? static_cast<std::uint64_t>(SaturateCast<std::int64_t>(value))
                         : SaturateCast<std::uint64_t>(value);
    }
    if (IsSignedSlot(mType) || IsUnsignedSlot(mType))
        return mValue;
    return 0;
}

std::int32_t Variable::GetInt32() const
{
    if (IsFloating(mType))
        return SaturateCast<std::int32_t>(GetDouble());
    if (IsSignedSlot(mType) || IsUnsignedSlot(mType))
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(mValue));
    return 0;
}

bool Variable::GetBool() const
{
    if (IsFloating(mType))
        return GetDouble() != 0;
    return GetUInt64() != 0;
}

void* Variable::GetPointer() const
{
    return mType == _VAR_POINTER ? reinterpret_cast<void*>(static_cast<std::uintptr_t>(mValue)) : nullptr;
}

int Variable::GetScriptRef() const
{
    return mType == _VAR_SCRIPTREF ? static_cast<int>(static_cast<std::int64_t>(mValue)) : 0;
}

// --- Children -----------------------------------------------------------------------------------------

Variable& Variable::GetChild(_dword index)
{
    return const_cast<Variable&>(static_cast<const Variable*>(this)->GetChild(index));
}

const Variable& Variable::GetChild(_dword index) const
{
    return index < mChildren.size() ? *mChildren[index] : Invalid();
}

Variable& Variable::FindChild(std::u16string_view name)
{
    return const_cast<Variable&>(static_cast<const Variable*>(this)->FindChild(name));
}

const Variable& Variable::FindChild(std::u16string_view name) const
{
    Variable* child = FindChildIn(mChildren, name);
    return child ? *child : Invalid();
}

Variable& Variable::AddMember(std::u16string_view name, _dword type)
{
    if (!Writable() || mType != _VAR_STRUCT)
        return Invalid();
    mChildren.push_back(std::make_unique<Variable>(name, type));
    return *mChildren.back();
}

Variable& Variable::GetTemplate()
{
    return mTemplate ? *mTemplate : Invalid();
}

const Variable& Variable::GetTemplate() const
{
    return mTemplate ? *mTemplate : Invalid();
}

Variable& Variable::GetCountVariable()
{
    return mCount ? *mCount : Invalid();
}

const Variable& Variable::GetCountVariable() const
{
    return mCount ? *mCount : Invalid();
}

bool Variable::Resize(_dword count)
{
    if (!Writable() || !IsArray() || count == 0 || count == 0xFFFFFFFF)
        return false;
    // Element numbers and "#" are 32-bit.
    if (!VEXEL_ASSERT(count <= 0xFFFFFFFFu - mChildren.size()))
        return false;
    mChildren.reserve(mChildren.size() + count);
    for (_dword i = 0; i < count; ++i)
    {
        std::unique_ptr<Variable> element;
        if (mTemplate)
            element = std::make_unique<Variable>(*mTemplate);
        else
            element = std::make_unique<Variable>(u"", GetBaseType());
        element->mName = ElementName(mChildren.size());
        mChildren.push_back(std::move(element));
        if (mCount && mCount->mType == _VAR_INT32)
            mCount->StoreSigned(static_cast<std::int64_t>(mChildren.size()));
        else if (mCount && mCount->mType == _VAR_UINT32)
            mCount->StoreUnsigned(mChildren.size());
    }
    return true;
}

Variable& Variable::Find(std::u16string_view path)
{
    return const_cast<Variable&>(static_cast<const Variable*>(this)->Find(path));
}

const Variable& Variable::Find(std::u16string_view path) const
{
    const Variable* node = this;
    std::u16string_view rest = path;
    while (!rest.empty())
    {
        // Head up to the first ".", "[" or "#" after the first character; "." is consumed.
        std::u16string_view head = rest;
        std::size_t split = rest.find_first_of(u".[#", 1);
        if (split == std::u16string_view::npos)
            rest = {};
        else
        {
            head = rest.substr(0, split);
            rest = rest.substr(rest[split] == u'.' ? split + 1 : split);
        }

        const Variable* next = nullptr;
        if (node->IsArray() && head.size() > 1 && head[0] == u'[' && head[1] >= u'0' && head[1] <= u'9')
        {
            std::size_t index = 0;
            for (std::size_t i = 1; i < head.size() && head[i] >= u'0' && head[i] <= u'9'; ++i)
            {
                index = index * 10 + static_cast<std::size_t>(head[i] - u'0');
                if (index >= node->mChildren.size())
                    break; // out of range already; also keeps the number from overflowing
            }
            if (index < node->mChildren.size())
                next = node->mChildren[index].get();
        }
        if (!next)
            next = FindChildIn(node->mChildren, head);
        if (!next && node->IsArray() && node->mTemplate)
            next = FindChildIn(node->mTemplate->mChildren, head);
        if (!next && head == _VAR_COUNT_NAME && node->mCount)
            next = node->mCount.get();
        if (!next)
            return Invalid();
        node = next;
    }
    return *node;
}

Variable& Variable::Create(std::u16string_view path, _dword type)
{
    if (!Writable())
        return Invalid();
    std::size_t lastDot = path.rfind(u'.');
    std::u16string_view leaf = lastDot == std::u16string_view::npos ? path : path.substr(lastDot + 1);
    if (leaf.empty())
        return Invalid();

    // Adds leaf under parent (a structure, or the template of an array and then every element).
    auto createIn = [](Variable& parent, std::u16string_view name, _dword memberType) -> Variable&
    {
        Variable* container = nullptr;
        if (parent.IsArray())
        {
            if (!VEXEL_ASSERT_TEXT(parent.mTemplate != nullptr, u"subvar.mTemplate != _null"))
                return Invalid();
            container = parent.mTemplate.get();
            if (!container->IsStructure())
                return Invalid();
        }
        else if (parent.IsStructure() && parent.IsValid())
            container = &parent;
        else
            return Invalid();

        if (Variable* existing = FindChildIn(container->mChildren, name))
            return *existing;
        container->mChildren.push_back(std::make_unique<Variable>(name, memberType));
        if (parent.IsArray())
        {
            // Existing elements keep the template's shape.
            for (auto& element : parent.mChildren)
                if (element->IsStructure() && !FindChildIn(element->mChildren, name))
                    element->mChildren.push_back(std::make_unique<Variable>(name, memberType));
        }
        return *container->mChildren.back();
    };

    if (lastDot == std::u16string_view::npos)
        return createIn(*this, leaf, type);

    Variable* parent = &Find(path.substr(0, lastDot));
    if (parent->mType == _VAR_EMPTY)
    {
        // Make the missing parents as structures, one level at a time (no recursion on long paths).
        Variable* node = this;
        std::size_t start = 0;
        for (;;)
        {
            std::size_t dot = path.find(u'.', start);
            std::u16string_view segment = path.substr(start, dot - start);
            Variable* next = &node->Find(segment);
            if (next->mType == _VAR_EMPTY)
                next = &createIn(*node, segment, _VAR_STRUCT);
            // An existing member of the empty type cannot hold members: give up rather than loop.
            if (next->mType == _VAR_EMPTY)
                return Invalid();
            node = next;
            if (dot == lastDot)
                break;
            start = dot + 1;
        }
        parent = node;
    }
    return createIn(*parent, leaf, type);
}

} // namespace Vexel
