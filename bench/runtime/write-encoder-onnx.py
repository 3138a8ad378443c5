#!/usr/bin/python3
"""Writes an ONNX graph of a Whisper-shaped audio encoder with seeded random float32 weights.

    write-encoder-onnx.py SHAPE OUTPUT.onnx

SHAPE is tiny, base or small. The graph uses standard operators only (Conv, Erf, MatMul,
Softmax, LayerNormalization, opset 17), the way a general engine receives an exported model:
  mel [1, mels, 3000] -> conv(k3, p1) -> GELU -> conv(k3, s2, p1) -> GELU -> [1, 1500, d] + positions
  -> blocks of pre-norm self-attention and a 4d GELU MLP -> final layer norm -> [1, 1500, d].
The weights' values do not change the time taken.
"""
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SHAPES = {
    # width, heads, layers, mels
    "tiny": (384, 6, 4, 80),
    "base": (512, 8, 6, 80),
    "small": (768, 12, 12, 80),
}
FRAMES = 3000


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SHAPES:
        sys.exit("usage: write-encoder-onnx.py tiny|base|small OUTPUT.onnx")
    width, heads, layers, mels = SHAPES[sys.argv[1]]
    positions = FRAMES // 2
    head_width = width // heads
    rng = np.random.default_rng(1)
    nodes, initializers = [], []
    counter = [0]

    def name(prefix):
        counter[0] += 1
        return f"{prefix}_{counter[0]}"

    def constant(values, prefix="w"):
        tensor = numpy_helper.from_array(np.asarray(values, dtype=np.float32), name(prefix))
        initializers.append(tensor)
        return tensor.name

    def integers(values):
        tensor = numpy_helper.from_array(np.asarray(values, dtype=np.int64), name("shape"))
        initializers.append(tensor)
        return tensor.name

    def random(*shape, scale=0.02):
        return constant(rng.standard_normal(shape, dtype=np.float32) * scale)

    def node(op, inputs, **attributes):
        output = name(op.lower())
        nodes.append(helper.make_node(op, inputs, [output], **attributes))
        return output

    def gelu(x):
        erf = node("Erf", [node("Div", [x, constant(np.sqrt(2.0))])])
        return node("Mul", [node("Mul", [x, node("Add", [erf, constant(1.0)])]), constant(0.5)])

    def linear(x, inputs, outputs, bias=True):
        y = node("MatMul", [x, random(inputs, outputs)])
        return node("Add", [y, random(outputs)]) if bias else y

    def norm(x):
        return node("LayerNormalization", [x, constant(np.ones(width)), random(width)], axis=-1, epsilon=1e-5)

    x = node("Conv", ["mel", random(width, mels, 3), random(width)], kernel_shape=[3], pads=[1, 1])
    x = gelu(x)
    x = node("Conv", [x, random(width, width, 3), random(width)], kernel_shape=[3], pads=[1, 1], strides=[2])
    x = gelu(x)
    x = node("Transpose", [x], perm=[0, 2, 1])
    x = node("Add", [x, random(positions, width)])

    split_heads = integers([1, positions, heads, head_width])
    merge_heads = integers([1, positions, width])
    for _ in range(layers):
        h = norm(x)
        q = node("Transpose", [node("Reshape", [linear(h, width, width), split_heads])], perm=[0, 2, 1, 3])
        k = node("Transpose", [node("Reshape", [linear(h, width, width, bias=False), split_heads])], perm=[0, 2, 3, 1])
        v = node("Transpose", [node("Reshape", [linear(h, width, width), split_heads])], perm=[0, 2, 1, 3])
        scores = node("Mul", [node("MatMul", [q, k]), constant(1.0 / np.sqrt(head_width))])
        attended = node("MatMul", [node("Softmax", [scores], axis=-1), v])
        attended = node("Reshape", [node("Transpose", [attended], perm=[0, 2, 1, 3]), merge_heads])
        x = node("Add", [x, linear(attended, width, width)])
        h = norm(x)
        x = node("Add", [x, linear(gelu(linear(h, width, 4 * width)), 4 * width, width)])
    x = norm(x)
    nodes[-1].output[0] = "encoder_output"

    graph = helper.make_graph(
        nodes,
        "audio_encoder",
        [helper.make_tensor_value_info("mel", TensorProto.FLOAT, [1, mels, FRAMES])],
        [helper.make_tensor_value_info("encoder_output", TensorProto.FLOAT, [1, positions, width])],
        initializers,
    )
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)], producer_name="runtime-bench")
    model.ir_version = 8
    onnx.checker.check_model(model)
    onnx.save(model, sys.argv[2])


if __name__ == "__main__":
    main()
