#include "Storage/ResourceCache.h"

#include "Common/Assert.h"
#include "Common/StringEncoding.h"
#include "Storage/NameKey.h"
#include "Storage/ResourceManager.h"

namespace Vexel
{

void* ResourceCache::Find(_dword type, const String& name)
{
    if (!VEXEL_ASSERT_TEXT(type < _MAX_RESCACHE, u"restype < _MAX_RESCACHE") || !mEnabled)
        return nullptr;
    ++mLookups;
    Table* table = mTables[type].get();
    if (!table)
        return nullptr;
    String key = NormalizeResourceName(name);
    auto found = table->find(key);
    if (found == table->end() && key.find(u'\\') == String::npos && mManager)
    {
        Array<String> folders = mManager->SearchFolders();
        for (std::size_t i = folders.Number(); i-- > 0 && found == table->end();)
            found = table->find(JoinPath(folders[i], key));
    }
    if (found == table->end())
        return nullptr;
    ++mHits;
    return found->second;
}

void ResourceCache::Add(_dword type, const String& name, void* object)
{
    if (!VEXEL_ASSERT_TEXT(type < _MAX_RESCACHE, u"restype < _MAX_RESCACHE") || !mEnabled)
        return;
    if (!mTables[type])
        mTables[type] = std::make_unique<Table>(397);
    (*mTables[type])[NormalizeResourceName(name)] = object;
}

void ResourceCache::Remove(_dword type, const String& name)
{
    if (!VEXEL_ASSERT_TEXT(type < _MAX_RESCACHE, u"restype < _MAX_RESCACHE") || !mEnabled || !mTables[type])
        return;
    mTables[type]->erase(NormalizeResourceName(name));
}

_dword ResourceCache::GetCount() const
{
    std::size_t count = 0;
    for (const auto& table : mTables)
        if (table)
            count += table->size();
    return static_cast<_dword>(count);
}

float ResourceCache::GetHitRate() const
{
    return mLookups == 0 ? 0.0f : static_cast<float>(mHits) / static_cast<float>(mLookups);
}

} // namespace Vexel
