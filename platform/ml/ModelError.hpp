#pragma once

#include <stdexcept>

namespace ml {

// A model folder that cannot be loaded, or a prediction whose inputs do not fit the model.
class ModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace ml
