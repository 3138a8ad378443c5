#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

namespace ml {

ProgramRegistry& ProgramRegistry::shared()
{
    static ProgramRegistry registry;
    return registry;
}

ProgramRegistry::ProgramRegistry()
{
    registerBuiltinPrograms(*this);
}

void ProgramRegistry::add(const std::string& name, ProgramFactory factory)
{
    std::lock_guard lock(mutex_);
    factories_[name] = std::move(factory);
}

bool ProgramRegistry::contains(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    return factories_.contains(name);
}

std::unique_ptr<Program> ProgramRegistry::make(const std::string& name, const ProgramContext& context) const
{
    ProgramFactory factory;
    {
        std::lock_guard lock(mutex_);
        auto it = factories_.find(name);
        if (it == factories_.end()) {
            throw ModelError((context.folder.path() / ModelFolder::descriptionFileName).string()
                + ": unknown program \"" + name + "\"");
        }
        factory = it->second;
    }
    return factory(context);
}

} // namespace ml
