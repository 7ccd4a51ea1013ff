// SPDX-License-Identifier: GPL-2.0
/*
 * Sample-stream mode: an accelerometer that looks like a HID sensor hub's (named
 * accel_3d): raw x, y and z of 16 bits stored in 32, a scale, an offset and a
 * sampling frequency shared by the axes (with the rates it offers), a software
 * kfifo buffer with a timestamp channel, and no events. While its buffer runs, a
 * timer pushes one sample per period of the set rate, timestamped when it is
 * pushed, from the trace written to debugfs "samples" (lines "X Y Z" of raw
 * values; the trace takes over when the file is closed): its first sample until
 * "fire play", then one after another, then its last for ever. Before any trace,
 * the device lies flat at rest.
 */
#include <linux/iio/buffer.h>
#include <linux/iio/kfifo_buf.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/uaccess.h>
#include <linux/vmalloc.h>

#include "vtap_accel.h"

#define VTAP_MAX_SAMPLES 65536
#define VTAP_LINE 64

/* 1 mg per step, as hubs report. */
#define VTAP_SCALE_NANO 9806650

static const int rates[] = { 10, 50, 100, 200, 400 };

#define VTAP_SAMPLE_AXIS(axis_, index_)					\
	{								\
		.type = IIO_ACCEL,					\
		.modified = 1,						\
		.channel2 = (axis_),					\
		.info_mask_separate = BIT(IIO_CHAN_INFO_RAW),		\
		.info_mask_shared_by_type = BIT(IIO_CHAN_INFO_OFFSET) |	\
			BIT(IIO_CHAN_INFO_SCALE) |			\
			BIT(IIO_CHAN_INFO_SAMP_FREQ),			\
		.info_mask_shared_by_type_available =			\
			BIT(IIO_CHAN_INFO_SAMP_FREQ),			\
		.scan_index = (index_),					\
		.scan_type = {						\
			.sign = 's',					\
			.realbits = 16,					\
			.storagebits = 32,				\
			.endianness = IIO_LE,				\
		},							\
	}

static const struct iio_chan_spec sample_channels[] = {
	VTAP_SAMPLE_AXIS(IIO_MOD_X, 0),
	VTAP_SAMPLE_AXIS(IIO_MOD_Y, 1),
	VTAP_SAMPLE_AXIS(IIO_MOD_Z, 2),
	IIO_CHAN_SOFT_TIMESTAMP(3),
};

/* The axes are always sampled together; the core hands on the ones enabled. */
static const unsigned long sample_scan_masks[] = { 0x7, 0 };

/* The trace, for every device the module plugs. */
static DEFINE_SPINLOCK(trace_lock);
static s16 (*trace)[3];		/* VTAP_MAX_SAMPLES; under trace_lock, as the next three */
static size_t trace_length;
static size_t trace_next;
static bool playing;
/* The trace being written, the writer's alone until it closes the file. */
static s16 (*staged)[3];
static size_t staged_length;
static char partial[VTAP_LINE];	/* a line cut by the end of a write */
static size_t partial_length;

/* The sample to push now, and the one after it. */
static void next_sample(s16 out[3])
{
	spin_lock_bh(&trace_lock);
	if (!trace_length) {
		out[0] = 0;
		out[1] = 0;
		out[2] = 1000;
	} else {
		memcpy(out, trace[trace_next], sizeof(trace[0]));
		if (playing && trace_next + 1 < trace_length)
			trace_next++;
	}
	spin_unlock_bh(&trace_lock);
}

static enum hrtimer_restart push_sample(struct hrtimer *timer)
{
	struct vtap_accel *st = container_of(timer, struct vtap_accel, timer);
	struct {
		s32 axes[3];
		s64 timestamp __aligned(8);
	} scan = {};
	s16 sample[3];
	int i;

	next_sample(sample);
	for (i = 0; i < 3; i++)
		scan.axes[i] = sample[i];
	iio_push_to_buffers_with_timestamp(st->indio_dev, &scan,
					   iio_get_time_ns(st->indio_dev));
	hrtimer_forward_now(timer, ns_to_ktime(NSEC_PER_SEC / READ_ONCE(st->rate)));
	return HRTIMER_RESTART;
}

static int buffer_postenable(struct iio_dev *indio_dev)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	hrtimer_start(&st->timer, ns_to_ktime(NSEC_PER_SEC / READ_ONCE(st->rate)),
		      HRTIMER_MODE_REL_SOFT);
	return 0;
}

static int buffer_predisable(struct iio_dev *indio_dev)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	hrtimer_cancel(&st->timer);
	return 0;
}

static const struct iio_buffer_setup_ops buffer_ops = {
	.postenable = buffer_postenable,
	.predisable = buffer_predisable,
};

static int sample_read_raw(struct iio_dev *indio_dev,
			   const struct iio_chan_spec *chan, int *val, int *val2,
			   long mask)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	switch (mask) {
	case IIO_CHAN_INFO_RAW:
		spin_lock_bh(&trace_lock);
		*val = trace_length ? trace[trace_next][chan->scan_index] :
				      (chan->scan_index == 2 ? 1000 : 0);
		spin_unlock_bh(&trace_lock);
		return IIO_VAL_INT;
	case IIO_CHAN_INFO_OFFSET:
		*val = 0;
		return IIO_VAL_INT;
	case IIO_CHAN_INFO_SCALE:
		*val = 0;
		*val2 = VTAP_SCALE_NANO;
		return IIO_VAL_INT_PLUS_NANO;
	case IIO_CHAN_INFO_SAMP_FREQ:
		*val = READ_ONCE(st->rate);
		return IIO_VAL_INT;
	default:
		return -EINVAL;
	}
}

static int sample_read_avail(struct iio_dev *indio_dev,
			     struct iio_chan_spec const *chan, const int **vals,
			     int *type, int *length, long mask)
{
	if (mask != IIO_CHAN_INFO_SAMP_FREQ)
		return -EINVAL;
	*vals = rates;
	*type = IIO_VAL_INT;
	*length = ARRAY_SIZE(rates);
	return IIO_AVAIL_LIST;
}

/* One of the rates offered, and not while the buffer runs. */
static int sample_write_raw(struct iio_dev *indio_dev,
			    const struct iio_chan_spec *chan, int val, int val2,
			    long mask)
{
	struct vtap_accel *st = iio_priv(indio_dev);
	size_t i;
	int ret = -EINVAL;

	if (mask != IIO_CHAN_INFO_SAMP_FREQ)
		return -EINVAL;
	for (i = 0; i < ARRAY_SIZE(rates); i++)
		if (rates[i] == val && !val2)
			ret = 0;
	if (ret)
		return ret;
	ret = iio_device_claim_direct_mode(indio_dev);
	if (ret)
		return ret;
	WRITE_ONCE(st->rate, val);
	iio_device_release_direct_mode(indio_dev);
	return 0;
}

static const struct iio_info sample_info = {
	.read_raw = sample_read_raw,
	.read_avail = sample_read_avail,
	.write_raw = sample_write_raw,
};

static int sample_setup(struct iio_dev *indio_dev, bool per_axis)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	indio_dev->name = "accel_3d";
	indio_dev->info = &sample_info;
	indio_dev->channels = sample_channels;
	indio_dev->num_channels = ARRAY_SIZE(sample_channels);
	indio_dev->available_scan_masks = sample_scan_masks;
	indio_dev->modes |= INDIO_BUFFER_SOFTWARE;
	indio_dev->setup_ops = &buffer_ops;
	st->rate = 10;
	hrtimer_init(&st->timer, CLOCK_MONOTONIC, HRTIMER_MODE_REL_SOFT);
	st->timer.function = push_sample;
	st->buffer = iio_kfifo_allocate();
	if (!st->buffer)
		return -ENOMEM;
	return iio_device_attach_buffer(indio_dev, st->buffer);
}

/* The device holds the buffer as long as it lives; this gives back setup's hold. */
static void sample_release(struct iio_dev *indio_dev)
{
	struct vtap_accel *st = iio_priv(indio_dev);

	if (st->buffer)
		iio_kfifo_free(st->buffer);
	st->buffer = NULL;
}

/* "play": from the trace's first sample on. */
static int sample_fire(struct iio_dev *indio_dev, const char *word)
{
	if (strcmp(word, "play"))
		return -EINVAL;
	spin_lock_bh(&trace_lock);
	trace_next = 0;
	playing = true;
	spin_unlock_bh(&trace_lock);
	return 0;
}

static void add_line(char *line)
{
	int x, y, z;

	if (sscanf(line, "%d %d %d", &x, &y, &z) != 3 ||
	    staged_length == VTAP_MAX_SAMPLES)
		return;
	staged[staged_length][0] = clamp(x, S16_MIN, S16_MAX);
	staged[staged_length][1] = clamp(y, S16_MIN, S16_MAX);
	staged[staged_length][2] = clamp(z, S16_MIN, S16_MAX);
	staged_length++;
}

/* One writer at a time: a second opening is refused until the first closes. */
static atomic_t writing = ATOMIC_INIT(0);

static int samples_open(struct inode *inode, struct file *file)
{
	if (atomic_cmpxchg(&writing, 0, 1))
		return -EBUSY;
	staged_length = 0;
	partial_length = 0;
	return 0;
}

/* The trace written takes over, its first sample held until "play". */
static int samples_release(struct inode *inode, struct file *file)
{
	s16 (*old)[3];

	spin_lock_bh(&trace_lock);
	old = trace;
	trace = staged;
	trace_length = staged_length;
	trace_next = 0;
	playing = false;
	staged = old;
	spin_unlock_bh(&trace_lock);
	atomic_set(&writing, 0);
	return 0;
}

/* Whole lines are added; a line cut by the end of the write waits for the rest. */
static ssize_t samples_write(struct file *file, const char __user *buf,
			     size_t len, loff_t *ppos)
{
	char chunk[256];
	size_t done = 0;

	while (done < len) {
		size_t n = min(len - done, sizeof(chunk));
		size_t i;

		if (copy_from_user(chunk, buf + done, n))
			return -EFAULT;
		for (i = 0; i < n; i++) {
			if (chunk[i] != '\n') {
				if (partial_length < VTAP_LINE - 1)
					partial[partial_length++] = chunk[i];
				continue;
			}
			partial[partial_length] = '\0';
			add_line(partial);
			partial_length = 0;
		}
		done += n;
	}
	return len;
}

static const struct file_operations samples_fops = {
	.owner = THIS_MODULE,
	.open = samples_open,
	.release = samples_release,
	.write = samples_write,
	.llseek = no_llseek,
};

static void sample_add_controls(struct dentry *dir)
{
	trace = vmalloc(array_size(VTAP_MAX_SAMPLES, sizeof(*trace)));
	staged = vmalloc(array_size(VTAP_MAX_SAMPLES, sizeof(*staged)));
	if (trace && staged)
		debugfs_create_file("samples", 0200, dir, NULL, &samples_fops);
}

static void sample_cleanup(void)
{
	vfree(trace);
	vfree(staged);
}

const struct vtap_mode vtap_sample_mode = {
	.name = "samples",
	.setup = sample_setup,
	.fire = sample_fire,
	.add_controls = sample_add_controls,
	.release = sample_release,
	.cleanup = sample_cleanup,
};
